// The user's locale, as far as the modules below the UI need it.
#pragma once

#include <cstddef>

// The user's thousands separator; false when the locale gives none.
bool PlatThousandsSep(char *buf, size_t size);
