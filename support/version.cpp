#include "support/version.h"

#ifndef MIRDEL_VERSION
#error "MIRDEL_VERSION is set by the build from the project's version"
#endif

const char *VersionNumber(void)
{
    return MIRDEL_VERSION;
}

bool VersionPrint(FILE *out, const char *program)
{
    std::fprintf(out,
                 "%s %s\n"
                 "Copyright (c) 2026 The Mirdel authors\n"
                 "License MIT: this is free software; you are free to change and redistribute it.\n"
                 "There is NO WARRANTY, to the extent permitted by law.\n",
                 program, MIRDEL_VERSION);
    return std::fflush(out) == 0 && !std::ferror(out);
}
