// The version of the programs and the text of their --version option.
#pragma once

#include <cstdio>

// "0.1.0": the project's version as the build set it.
const char *VersionNumber(void);

// Writes the GNU --version text of program ("mirdel-cli 0.1.0", then the
// copyright and licence lines) to out. Returns false when writing failed.
bool VersionPrint(FILE *out, const char *program);
