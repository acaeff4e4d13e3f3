// The command line as start-up sees it: one private copy of at most 1023
// characters, split in place into at most 20 words (the program's own path
// included). Longer lines are refused, never cut.
#pragma once

#include <cstddef>

#define CMDLINE_SIZE 1024 // 1023 characters and the terminator
#define CMDLINE_MAX_WORDS 20

enum {
    CMDLINE_OK = 0,
    CMDLINE_TOO_LONG = 1,       // more than 1023 characters
    CMDLINE_TOO_MANY_WORDS = 2, // more than 20 words
};

struct CmdLine {
    char text[CMDLINE_SIZE];
    char *argv[CMDLINE_MAX_WORDS + 1]; // null after the last word
    int argc;
};

// Splits text in place into words (blanks and tabs separate, a double
// quote opens a word that runs to the next double quote). Stores at most
// maxWords word starts; returns the word count, or -1 when the text holds
// more than maxWords words (the first maxWords are stored all the same).
int CmdLineSplit(char *text, char **words, int maxWords);

// Copies a whole command-line text (the form a Windows build receives) and
// splits it. On refusal cl.argv still holds the first words of the part
// that fits, so that a diagnostic can name the program.
int CmdLineFromText(CmdLine &cl, const char *text);

// Takes words that the system has already split (argv), under the same
// limits: at most 20 words, and at most 1023 characters as the words joined
// with one blank between two. On refusal cl holds only the first word (bounded).
int CmdLineFromArgv(CmdLine &cl, int argc, char *const *argv);

// The program's short name from the first word: after the last '/', else
// after the last '\\', with a trailing ".exe" (any case) cut off. Written
// into buf, cut to its size.
void CmdLineProgramName(const char *word, char *buf, size_t size);
