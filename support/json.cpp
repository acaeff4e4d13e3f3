#include "support/json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Length of the valid UTF-8 sequence at p (at most n bytes), 0 if none.
static size_t json_utf8_length(const unsigned char *p, size_t n)
{
    unsigned char c = p[0];
    size_t len;
    uint32_t cp;
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (len > n)
        return 0;
    for (size_t i = 1; i < len; i++) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    // Overlong forms, surrogates and numbers beyond Unicode are not UTF-8.
    if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
        return 0;
    return len;
}

std::string JsonString(const std::string &text)
{
    std::string out = "\"";
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text.data());
    size_t n = text.size();
    for (size_t i = 0; i < n;) {
        unsigned char c = p[i];
        char esc[8];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(esc, sizeof esc, "\\u%04X", c);
            out += esc;
        } else {
            size_t len = json_utf8_length(p + i, n - i);
            if (len == 0) {
                std::snprintf(esc, sizeof esc, "\\u%04X", c);
                out += esc;
                i++;
            } else {
                out.append(text, i, len);
                i += len;
            }
            continue;
        }
        i++;
    }
    return out + "\"";
}

JsonObject &JsonObject::Key(const char *key)
{
    if (text_.size() > 1)
        text_ += ',';
    text_ += '"';
    text_ += key;
    text_ += "\":";
    return *this;
}

JsonObject &JsonObject::Add(const char *key, const std::string &value)
{
    Key(key).text_ += JsonString(value);
    return *this;
}

JsonObject &JsonObject::Add(const char *key, const char *value)
{
    return value ? Add(key, std::string(value)) : AddNull(key);
}

JsonObject &JsonObject::Add(const char *key, int64_t value)
{
    Key(key).text_ += std::to_string(value);
    return *this;
}

JsonObject &JsonObject::Add(const char *key, uint64_t value)
{
    Key(key).text_ += std::to_string(value);
    return *this;
}

JsonObject &JsonObject::Add(const char *key, double value)
{
    if (!std::isfinite(value))
        return AddNull(key);
    // Thousandths as whole numbers: the decimal point must not follow the
    // user's locale.
    double rounded = std::round(std::fabs(value) * 1000.0);
    if (rounded >= 9e18)
        return AddNull(key);
    long long m = (long long)rounded;
    char text[64];
    std::snprintf(text, sizeof text, "%s%lld.%03lld", value < 0 && m != 0 ? "-" : "", m / 1000,
                  m % 1000);
    Key(key).text_ += text;
    return *this;
}

JsonObject &JsonObject::Add(const char *key, bool value)
{
    Key(key).text_ += value ? "true" : "false";
    return *this;
}

JsonObject &JsonObject::AddNull(const char *key)
{
    Key(key).text_ += "null";
    return *this;
}

JsonObject &JsonObject::AddRaw(const char *key, const std::string &json)
{
    Key(key).text_ += json;
    return *this;
}

namespace
{

// A reader over one line; every step returns false on text it cannot take.
struct JsonReader {
    const std::string &s;
    size_t i = 0;

    void Blank()
    {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n'))
            i++;
    }
    bool Eat(char c)
    {
        Blank();
        if (i >= s.size() || s[i] != c)
            return false;
        i++;
        return true;
    }
    static void PutUtf8(std::string &out, uint32_t cp)
    {
        if (cp < 0x80) {
            out += (char)cp;
        } else if (cp < 0x800) {
            out += (char)(0xC0 | (cp >> 6));
            out += (char)(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += (char)(0xE0 | (cp >> 12));
            out += (char)(0x80 | ((cp >> 6) & 0x3F));
            out += (char)(0x80 | (cp & 0x3F));
        } else {
            out += (char)(0xF0 | (cp >> 18));
            out += (char)(0x80 | ((cp >> 12) & 0x3F));
            out += (char)(0x80 | ((cp >> 6) & 0x3F));
            out += (char)(0x80 | (cp & 0x3F));
        }
    }
    bool Hex4(uint32_t &cp)
    {
        if (i + 4 > s.size())
            return false;
        cp = 0;
        for (int k = 0; k < 4; k++) {
            char c = s[i++];
            int d = c >= '0' && c <= '9' ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
            if (d < 0)
                return false;
            cp = cp * 16 + (uint32_t)d;
        }
        return true;
    }
    bool String(std::string &out)
    {
        if (!Eat('"'))
            return false;
        out.clear();
        while (i < s.size()) {
            char c = s[i++];
            if (c == '"')
                return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i >= s.size())
                return false;
            char e = s[i++];
            uint32_t cp;
            switch (e) {
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'u':
                if (!Hex4(cp))
                    return false;
                if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i] == '\\' &&
                    s[i + 1] == 'u') {
                    uint32_t low;
                    i += 2;
                    if (!Hex4(low))
                        return false;
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                }
                PutUtf8(out, cp);
                break;
            default: out += e; break;
            }
        }
        return false;
    }
    // Passes over any value; a number's text is left in number.
    bool Skip(std::string *number = nullptr)
    {
        Blank();
        if (i >= s.size())
            return false;
        char c = s[i];
        std::string dummy;
        if (c == '"')
            return String(dummy);
        if (c == '{' || c == '[') {
            char close = c == '{' ? '}' : ']';
            i++;
            if (Eat(close))
                return true;
            do {
                if (close == '}' && !(String(dummy) && Eat(':')))
                    return false;
                if (!Skip())
                    return false;
            } while (Eat(','));
            return Eat(close);
        }
        size_t from = i;
        while (i < s.size() && std::strchr("+-.0123456789eEtruefalsn", s[i]))
            i++;
        if (number)
            *number = s.substr(from, i - from);
        return i > from;
    }
    // Finds key at the top level; leaves i at its value.
    bool Find(const char *key)
    {
        if (!Eat('{'))
            return false;
        std::string name;
        if (Eat('}'))
            return false;
        do {
            if (!String(name) || !Eat(':'))
                return false;
            if (name == key) {
                Blank();
                return true;
            }
            if (!Skip())
                return false;
        } while (Eat(','));
        return false;
    }
};

} // namespace

bool JsonGetString(const std::string &line, const char *key, std::string &value)
{
    JsonReader r{line};
    return r.Find(key) && r.i < line.size() && line[r.i] == '"' && r.String(value);
}

bool JsonGetNumber(const std::string &line, const char *key, double &value)
{
    JsonReader r{line};
    std::string text;
    if (!r.Find(key) || r.i >= line.size() || !(line[r.i] == '-' || (line[r.i] >= '0' && line[r.i] <= '9')))
        return false;
    if (!r.Skip(&text))
        return false;
    char *end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return *end == '\0';
}
