// JSON text for machine-readable output: one object per line, built key by
// key, and the few reads the command-line tool makes of such lines. Texts
// from files or instruments may hold any bytes; they are escaped so that
// every line is valid JSON in UTF-8.
#pragma once

#include <cstdint>
#include <string>

// text as a JSON string, quotes included. Control characters, quote and
// backslash are escaped; valid UTF-8 passes through; a byte that is not
// part of valid UTF-8 becomes the character of the same number (\u00XX).
std::string JsonString(const std::string &text);

// An object built in order; keys are given by the caller and not escaped.
class JsonObject
{
  public:
    JsonObject &Add(const char *key, const std::string &value);
    JsonObject &Add(const char *key, const char *value);
    JsonObject &Add(const char *key, int64_t value);
    JsonObject &Add(const char *key, int value) { return Add(key, (int64_t)value); }
    JsonObject &Add(const char *key, uint32_t value) { return Add(key, (int64_t)value); }
    JsonObject &Add(const char *key, uint64_t value);
    JsonObject &Add(const char *key, double value); // 3 decimals; not finite: null
    JsonObject &Add(const char *key, bool value);
    JsonObject &AddNull(const char *key);
    JsonObject &AddRaw(const char *key, const std::string &json); // already JSON text
    std::string Text() const { return text_ + "}"; }

  private:
    JsonObject &Key(const char *key);
    std::string text_ = "{";
};

// The top-level member key of a one-line object, when it is a string (its
// escapes undone) or a number. False when it is missing or of another kind.
bool JsonGetString(const std::string &line, const char *key, std::string &value);
bool JsonGetNumber(const std::string &line, const char *key, double &value);
