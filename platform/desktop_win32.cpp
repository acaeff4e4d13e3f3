// The Windows shell: there is always a session, and ShellExecute says
// itself whether a viewer took the document.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdlib>

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

std::string PlatDocumentsFolder()
{
    char path[MAX_PATH];
    if (SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, path) == S_OK)
        return path;
    const char *profile = std::getenv("USERPROFILE");
    return profile && *profile ? profile : ".";
}
