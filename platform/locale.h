// The user's locale, as far as the modules below the UI need it.
#pragma once

#include <cstddef>
#include <ctime>

// The user's thousands separator; false when the locale gives none.
bool PlatThousandsSep(char *buf, size_t size);

// Breaks a calendar time down into the user's local time (thread-safe).
bool PlatLocalTime(time_t t, struct tm *out);
