// The class is complete in its header; this file gives its meta-object a
// home in the library.
#include "desktop_qt/myfiledialog.h"
