// What the desktop program needs of the desktop around it: whether there
// is a graphical session at all, and the desktop's own viewer for a
// document.
#pragma once

#include <string>

// True when a graphical session is there to open windows in (on POSIX: an
// X11 or Wayland display is named in the environment).
bool PlatHaveGraphicalSession();

// Hands the document at path to the desktop's viewer for its type and
// finds out whether one took it. 1 when a viewer took it (or is still
// starting after waitMs milliseconds), 0 when none takes it (no opener
// either), -1 when no process could be started; for 0 and -1 the thread's
// last system error is set.
// maximised asks for the viewer's window to open maximised where the
// desktop can say so (Windows).
int PlatOpenDocument(const char *path, int waitMs, bool maximised = false);

// The user's documents folder (POSIX: XDG_DOCUMENTS_DIR, else ~/Documents
// when it exists, else the home folder; Windows: the Documents known
// folder), without a trailing separator.
std::string PlatDocumentsFolder();
