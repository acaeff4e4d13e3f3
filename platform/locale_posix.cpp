// The user's locale on POSIX. The process itself stays in the C locale so
// that numbers it writes keep a decimal point; the user's settings are read
// into a separate locale object.
#include "platform/locale.h"

#include <clocale>
#include <cstdio>
#include <cstring>
#include <langinfo.h>
#include <locale.h>

bool PlatThousandsSep(char *buf, size_t size)
{
    if (!buf || size == 0)
        return false;
    locale_t loc = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0))
        return false;
    const char *sep = nl_langinfo_l(THOUSEP, loc);
    // A separator that does not fit is not cut: half a UTF-8 character would
    // be worse than the fallback.
    bool ok = sep && sep[0] != '\0' && strlen(sep) < size;
    if (ok)
        snprintf(buf, size, "%s", sep);
    freelocale(loc);
    return ok;
}

bool PlatLocalTime(time_t t, struct tm *out)
{
    return out && localtime_r(&t, out) != nullptr;
}
