// A small option parser with process-wide state. It lives in its own
// namespace so that it does not meet the C library's getopt and optind.
#pragma once

namespace mgetopt {

extern int optind;   // word being examined or to be examined next
extern char *optarg; // argument of the most recent option that takes one
extern int opterr;   // non-zero: diagnostics go to the standard error stream
extern int optopt;   // most recent option letter not in the option text

// Returns the next option letter, '?' for a bad option or a missing
// argument, or -1 when the options are over. Not reentrant.
int getopt(int argc, char *const argv[], const char *optstring);

// Back to the state of a fresh process (optind 1, at the start of a word).
void getopt_reset(void);

} // namespace mgetopt
