#include "core/getopt.h"

#include <cstdio>
#include <cstring>

namespace mgetopt {

int optind = 1;
char *optarg = nullptr;
int opterr = 1;
int optopt = 0;

// Index of the next letter inside argv[optind]; 1 means a new word.
static int getopt_position = 1;

void getopt_reset(void)
{
    optind = 1;
    optarg = nullptr;
    opterr = 1;
    optopt = 0;
    getopt_position = 1;
}

// Moves on to the next letter of the word, or to the next word when the
// letter was its last.
static void getopt_step(char *const argv[])
{
    if (argv[optind][getopt_position + 1] == '\0') {
        getopt_position = 1;
        optind++;
    } else {
        getopt_position++;
    }
}

int getopt(int argc, char *const argv[], const char *optstring)
{
    if (getopt_position == 1) {
        if (optind >= argc || argv[optind] == nullptr || argv[optind][0] != '-'
            || argv[optind][1] == '\0')
            return -1;
        if (strcmp(argv[optind], "--") == 0) {
            optind++;
            return -1;
        }
    }
    char *word = argv[optind];
    int c = (unsigned char)word[getopt_position];
    // A colon only marks arguments in the option text; it is never a letter.
    const char *entry = c != ':' ? strchr(optstring, c) : nullptr;
    if (entry == nullptr) {
        optopt = c;
        if (opterr)
            fprintf(stderr, "%s: illegal option -- %c\n", argv[0], c);
        getopt_step(argv);
        return '?';
    }
    if (entry[1] != ':') {
        getopt_step(argv);
        return c;
    }
    char *rest = word + getopt_position + 1;
    getopt_position = 1;
    if (*rest != '\0') {
        optarg = rest;
        optind++;
        return c;
    }
    if (optind + 1 >= argc) {
        optind++; // now argc
        optarg = nullptr;
        if (opterr) {
            char letter[2] = {(char)c, '\0'};
            fprintf(stderr, "%s: option requires an argument -- %s\n", argv[0], letter);
        }
        return '?';
    }
    optarg = argv[optind + 1];
    optind += 2;
    return c;
}

} // namespace mgetopt
