// The command line against any words: the split of a whole command-line
// text, the words the system split (the input cut at NUL bytes), the
// program's short name, and the option loop of start-up ("vl:") followed by
// one with an option text from the input.
//
// Input: one byte of settings, then the command line.
//   settings & 15: size of the program-name buffer
//   settings >> 4: length of the extra option text, taken from the end
#include "fuzz_support.h"

#include "core/cmdline.h"
#include "core/getopt.h"

#include <cstring>
#include <string>
#include <vector>

namespace
{

int g_devNull = -1;

bool InText(const CmdLine &cl, const char *p)
{
    return p >= cl.text && p < cl.text + sizeof cl.text;
}

// The words lie in the copy, in order, each terminated inside it.
void CheckWords(const CmdLine &cl)
{
    FUZZ_CHECK(cl.argc >= 0 && cl.argc <= CMDLINE_MAX_WORDS);
    FUZZ_CHECK(cl.argv[cl.argc] == nullptr);
    FUZZ_CHECK(std::memchr(cl.text, '\0', sizeof cl.text) != nullptr);
    for (int i = 0; i < cl.argc; i++) {
        FUZZ_CHECK(InText(cl, cl.argv[i]));
        FUZZ_CHECK(std::memchr(cl.argv[i], '\0', cl.text + sizeof cl.text - cl.argv[i]) != nullptr);
        if (i > 0)
            FUZZ_CHECK(cl.argv[i] > cl.argv[i - 1]);
    }
}

// Runs the option parser to its end as start-up does. Its diagnostics go
// to the standard error stream, here sent to /dev/null for the call.
void RunOptions(CmdLine &cl, const char *optstring, bool startup)
{
    mgetopt::getopt_reset();
    fflush(stderr);
    int saved = dup(2);
    dup2(g_devNull, 2);
    int c;
    int steps = 0;
    while ((c = mgetopt::getopt(cl.argc, cl.argv, optstring)) != -1) {
        // Every step takes at least one letter of the line.
        FUZZ_CHECK(++steps <= CMDLINE_SIZE);
        FUZZ_CHECK(c != ':' && c != 0);
        if (c != '?')
            FUZZ_CHECK(std::strchr(optstring, c) != nullptr);
        if (startup)
            FUZZ_CHECK(c == 'v' || c == 'l' || c == '?');
        if (startup && c == 'l')
            FUZZ_CHECK(mgetopt::optarg != nullptr && InText(cl, mgetopt::optarg));
        FUZZ_CHECK(mgetopt::optind >= 1 && mgetopt::optind <= cl.argc);
    }
    dup2(saved, 2);
    close(saved);
    FUZZ_CHECK(cl.argc == 0 || (mgetopt::optind >= 1 && mgetopt::optind <= cl.argc));
}

void RunAll(CmdLine &cl, size_t nameSize, const char *optstring)
{
    CheckWords(cl);
    // One byte more than the size given, which must stay untouched.
    std::vector<char> name(nameSize + 1, '*');
    CmdLineProgramName(cl.argc > 0 ? cl.argv[0] : "", name.data(), nameSize);
    if (nameSize > 0)
        FUZZ_CHECK(std::strlen(name.data()) < nameSize);
    FUZZ_CHECK(name[nameSize] == '*');
    RunOptions(cl, "vl:", true);
    RunOptions(cl, optstring, false);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    g_devNull = open("/dev/null", O_WRONLY);
    FUZZ_CHECK(g_devNull >= 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t nameSize = data[0] & 15;
    size_t optLength = data[0] >> 4;
    const char *bytes = reinterpret_cast<const char *>(data + 1);
    size_t n = size - 1;
    if (optLength > n)
        optLength = n;
    // The option text ends at its first NUL like any C string.
    std::string optstring(bytes + n - optLength, optLength);
    optstring = optstring.c_str();
    n -= optLength;

    static CmdLine cl;
    std::string text(bytes, n); // with a terminator after the last byte
    int r = CmdLineFromText(cl, text.c_str());
    FUZZ_CHECK(r == CMDLINE_OK || r == CMDLINE_TOO_LONG || r == CMDLINE_TOO_MANY_WORDS);
    if (std::strlen(text.c_str()) > CMDLINE_SIZE - 1)
        FUZZ_CHECK(r == CMDLINE_TOO_LONG);
    RunAll(cl, nameSize, optstring.c_str());

    // The same bytes as words that the system split at NUL bytes; no
    // bytes, no words.
    std::vector<char *> argv;
    std::vector<std::string> words;
    for (size_t start = 0; n > 0 && start <= n && words.size() < 40;) {
        size_t end = start;
        while (end < n && bytes[end] != '\0')
            end++;
        words.emplace_back(bytes + start, end - start);
        start = end + 1;
    }
    for (std::string &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    r = CmdLineFromArgv(cl, static_cast<int>(words.size()), argv.data());
    FUZZ_CHECK(r == CMDLINE_OK || r == CMDLINE_TOO_LONG || r == CMDLINE_TOO_MANY_WORDS);
    if (r != CMDLINE_OK)
        FUZZ_CHECK(cl.argc == 1);
    else
        FUZZ_CHECK(cl.argc == static_cast<int>(words.size()));
    RunAll(cl, nameSize, optstring.c_str());
    return 0;
}
