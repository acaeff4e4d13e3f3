// The Windows shell: there is always a session, and ShellExecute says
// itself whether a viewer took the document.
#include <windows.h>
#include <shellapi.h>

#include "platform/desktop.h"

bool PlatHaveGraphicalSession()
{
    return true;
}

int PlatOpenDocument(const char *path, int /*waitMs*/, bool maximised)
{
    INT_PTR r = reinterpret_cast<INT_PTR>(ShellExecuteA(
        nullptr, "open", path, nullptr, nullptr, maximised ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL));
    if (r > 32)
        return 1;
    SetLastError(static_cast<DWORD>(r));
    return r == SE_ERR_NOASSOC ? 0 : -1;
}
