// The user's locale on Windows, from the user's default locale settings.
#include <windows.h>

#include "platform/locale.h"

#include <cstring>
#include <ctime>

bool PlatThousandsSep(char *buf, size_t size)
{
    if (!buf || size == 0)
        return false;
    if (size > 0x7FFF)
        size = 0x7FFF;
    // The answer counts the terminator; a separator that does not fit is a
    // failure, not a cut text.
    int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, buf, (int)size);
    if (n <= 1) {
        buf[0] = '\0';
        return false;
    }
    return true;
}

bool PlatLocalTime(time_t t, struct tm *out)
{
    return out && localtime_s(out, &t) == 0;
}
