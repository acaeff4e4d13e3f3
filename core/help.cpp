#include "core/help.h"

#include "core/textfmt.h"
#include "support/winerr.h"

std::string HelpDirectoryOf(const char *programPath)
{
    std::string path = programPath != nullptr ? programPath : "";
    size_t cut = path.rfind('\\');
    if (cut == std::string::npos) {
        cut = path.rfind('/');
        if (cut == std::string::npos)
            return std::string();
        path[cut] = '\\';
    }
    return path.substr(0, cut + 1);
}

bool HelpOpen(const std::string &dir, const HelpOpenFn &openPdf, const HelpOpenFn &openTxt,
              const HelpErrorFn &showError)
{
    std::string pdf = dir + HELP_PDF_FILE;
    if (openPdf(pdf))
        return true;
    showError(TextFormat("Error opening PDF help file:\n\n%s\n\n%s", pdf.c_str(), WinLastErrStr()));

    std::string txt = dir + HELP_TXT_FILE;
    if (openTxt(txt))
        return true;
    showError(TextFormat("Error opening TXT help file:\n\n%s\n\n%s", txt.c_str(), WinLastErrStr()));
    return false;
}
