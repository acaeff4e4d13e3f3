// The analysis of a firmware file, free of any window: every line checked
// and decoded into a Firmware, and the file's properties as the upload
// dialog shows them. The dialog adds the cursor, the progress window and
// the message box.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>

struct Firmware;

// Labels of the file properties.
#define SCAN_LABEL_NAME "Name:"
#define SCAN_LABEL_LOCATION "Location:"
#define SCAN_LABEL_SIZE "Size:"
#define SCAN_LABEL_MODIFIED "Modified:"

// The Modified field: the date and the time in the user's formats.
#define SCAN_MODIFIED_FORMAT "%s, %s"
// A property's tooltip shows at most this many bytes of it (TextCut).
#define SCAN_TOOLTIP_MAX 79

#define SCAN_LINE_SIZE 1025 // a line of up to 1023 characters, its line end and a NUL

struct ScanFileInfo {
    std::string filePath;
    std::string fileName; // after the last separator
    std::string location; // the absolute folder, without the separator
    uint64_t fileSize = 0;
    bool statValid = false; // size and modifiedTime were read from the system
    std::string sizeText;
    bool modifiedValid = false;
    std::time_t modifiedTime = 0;
    std::tm modified{};        // local time, when modifiedValid
    std::string modifiedError; // why the time is missing, otherwise
    uint64_t errorLine = 0;    // the faulty line (from 1); 0: the fault is not a line's
};

// Called with the whole-number percentage of the file read, each time it
// changes (it starts at 0).
typedef void (*ScanProgressFn)(void *context, int percent);

// Whether the file at path opens for reading. When not, *message is the
// analysis error's text: the path and the system's reason. Front ends ask
// before any cursor or window of the analysis appears.
bool ScanCanOpen(const char *path, std::string *message);

// Reads the file at path line by line into firmware (which must be empty).
// Returns 1 when the whole file was read without fault, 0 otherwise with
// the reason in *message. The properties in *info are filled whatever the
// result, except when the file cannot be opened.
int ScanFirmwareFile(const char *path, Firmware *firmware, ScanFileInfo *info, std::string *message,
                     ScanProgressFn progress = nullptr, void *context = nullptr);

// The path from the root, without "." and ".." steps, so that the folder
// of a file named relative to the working folder is known; the path itself
// when the working folder cannot be told.
std::string ScanAbsolutePath(const std::string &path);

// A file name as std::filesystem takes it. Narrow names are UTF-8 on every
// system (on Windows the programs' manifests make UTF-8 the ANSI code
// page); the library reads them so only from char8_t, and otherwise byte by
// byte on Windows.
std::filesystem::path ScanFsPath(const std::string &name);

// Splits a path at its last "\", failing that its last "/".
void ScanSplitPath(const std::string &path, std::string *fileName, std::string *location);

// "1.50 KiB (1,536 Bytes)", or "512 Bytes" below 1 KiB.
std::string ScanSizeText(uint64_t size);

// Whole-number percentage of size that position is, in 64-bit arithmetic.
int ScanPercent(uint64_t position, uint64_t size);

// Where a fault lies, as "FILE:LINE: " before a diagnostic (GNU style);
// empty when the fault is not a line's.
std::string ScanErrorPlace(const ScanFileInfo &info);

// Writes the analysis failure to the log (after place) and returns the text
// of the error box: the introductory sentence and the message.
std::string ScanReportError(const std::string &message, const std::string &place = std::string());
