// Children by CreateProcess. A child starts in a process group of its own,
// where the console's Ctrl-C does not reach it; the parent passes a stop on
// through a pipe that is the child's standard input. Ctrl-Break would reach
// only a child that shares the parent's console, and the children of a
// desktop program have none.
#include <windows.h>

#include "platform/process.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>

#include "platform/console.h"
#include "platform/syserr.h"

struct PlatProcess {
    PROCESS_INFORMATION info;
    FILE *out;
    HANDLE stop; // our end of the child's standard input
};

// One argument quoted for the child's command-line parser.
static std::string process_quote(const std::string &arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos)
        return arg;
    std::string q = "\"";
    size_t slashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            slashes++;
            continue;
        }
        q.append(c == '"' ? 2 * slashes + 1 : slashes, '\\');
        slashes = 0;
        q += c;
    }
    q.append(2 * slashes, '\\');
    return q + "\"";
}

// "call(): the system's message" for the thread's last error.
static std::string process_error(const char *call)
{
    unsigned long code = GetLastError();
    char text[256];
    if (!PlatErrorMessage(code, text, sizeof text))
        snprintf(text, sizeof text, "error %lu", code);
    return std::string(call) + "(): " + text;
}

PlatProcess *PlatProcessStart(const std::string &path, const std::vector<std::string> &args,
                              std::string &error)
{
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) {
        error = process_error("CreatePipe");
        return nullptr;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE inRead, inWrite;
    if (!CreatePipe(&inRead, &inWrite, &sa, 0)) {
        error = process_error("CreatePipe");
        CloseHandle(readEnd);
        CloseHandle(writeEnd);
        return nullptr;
    }
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    std::string line;
    for (const std::string &a : args)
        line += (line.empty() ? "" : " ") + process_quote(a);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = inRead;
    si.hStdOutput = writeEnd;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PlatProcess *p = new PlatProcess{};
    BOOL ok = CreateProcessA(path.c_str(), &line[0], nullptr, nullptr, TRUE,
                             CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &si, &p->info);
    if (!ok)
        error = process_error("CreateProcess");
    CloseHandle(writeEnd);
    CloseHandle(inRead);
    p->stop = inWrite;
    if (!ok) {
        CloseHandle(readEnd);
        CloseHandle(inWrite);
        delete p;
        return nullptr;
    }
    int fd = _open_osfhandle((intptr_t)readEnd, _O_RDONLY);
    p->out = fd >= 0 ? _fdopen(fd, "r") : nullptr;
    if (!p->out) {
        error = "_fdopen() failed";
        TerminateProcess(p->info.hProcess, 1);
        PlatProcessWait(p);
        return nullptr;
    }
    return p;
}

FILE *PlatProcessOutput(PlatProcess *process)
{
    return process->out;
}

bool PlatProcessStop(PlatProcess *process, std::string &error)
{
    const DWORD size = sizeof PLAT_STOP_LINE - 1;
    DWORD written = 0;
    if (WriteFile(process->stop, PLAT_STOP_LINE, size, &written, nullptr) && written == size)
        return true;
    std::string reason = process_error("WriteFile");
    // A child whose end of the pipe is closed is on its way out.
    if (WaitForSingleObject(process->info.hProcess, 200) == WAIT_OBJECT_0)
        return true;
    error = reason;
    return false;
}

int PlatProcessWait(PlatProcess *process)
{
    WaitForSingleObject(process->info.hProcess, INFINITE);
    DWORD code = 0;
    int status = GetExitCodeProcess(process->info.hProcess, &code) ? (int)code : -1;
    CloseHandle(process->info.hProcess);
    CloseHandle(process->info.hThread);
    if (process->out)
        std::fclose(process->out);
    CloseHandle(process->stop);
    delete process;
    return status;
}

std::string PlatSelfPath(const char *argv0)
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    return n > 0 && n < sizeof path ? std::string(path, n) : std::string(argv0);
}
