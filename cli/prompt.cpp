// The questions asked before a run, on the terminal.
#include "cli/prompt.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "core/run.h"
#include "platform/console.h"

namespace
{

bool cli_ask_yes(const char *question)
{
    std::fprintf(stderr, "%s [y/N] ", question);
    std::fflush(stderr);
    char answer[32];
    if (!std::fgets(answer, sizeof answer, stdin))
        return false;
    size_t n = std::strcspn(answer, "\r\n");
    answer[n] = '\0';
    for (char *p = answer; *p; p++)
        *p = (char)std::tolower((unsigned char)*p);
    return std::strcmp(answer, "y") == 0 || std::strcmp(answer, "yes") == 0;
}

} // namespace

// A question the dialog asks before a run (No by default): yes with --yes,
// asked on a terminal, refused without one.
bool CliConfirm(const char *question, bool yes)
{
    if (yes)
        return true;
    if (PlatIsTerminal(stdin))
        return cli_ask_yes(question);
    std::fprintf(stderr, "%s\n\nmirdel-cli: no terminal to ask on; give --yes to upload anyway\n",
                 question);
    return false;
}

bool CliPassChecks(const Firmware &firmware, bool yes)
{
    return RunChecksPass(firmware, [yes](const RunCheck &check) {
        if (check.kind == RUN_CHECK_REFUSE)
            std::fprintf(stderr, "%s", check.text.c_str());
        return check.kind == RUN_CHECK_ASK && CliConfirm(check.text.c_str(), yes);
    });
}
