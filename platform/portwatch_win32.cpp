// WM_DEVICECHANGE for the COM port device interface, received by a
// message-only window on a thread of the watch's own, so that any window
// (or none) can follow the ports.
#include <windows.h>

#include <dbt.h>
#include <initguid.h>

#include "platform/portwatch.h"

#include <thread>

// GUID_DEVINTERFACE_COMPORT, defined here so that no further import
// library is needed.
DEFINE_GUID(portwatch_comport, 0x86E0D1E0L, 0x8089, 0x11D0, 0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30,
            0x1F, 0x73);

struct PlatPortWatch {
    void (*onChange)(void *);
    void *context;
    DWORD threadId;
    std::thread thread;
};

namespace
{

LRESULT CALLBACK portwatch_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_DEVICECHANGE && (wp == DBT_DEVICEARRIVAL || wp == DBT_DEVICEREMOVECOMPLETE)) {
        auto *w = reinterpret_cast<PlatPortWatch *>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (w)
            w->onChange(w->context);
        return TRUE;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

} // namespace

void PlatSetPortWatchDir(const char *) {}

PlatPortWatch *PlatPortWatchStart(void (*onChange)(void *), void *context)
{
    PlatPortWatch *w = new PlatPortWatch{onChange, context, 0, {}};
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!ready) {
        delete w;
        return nullptr;
    }
    bool ok = false;
    DWORD error = 0;
    w->thread = std::thread([w, ready, &ok, &error] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = portwatch_proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "MirdelPortWatch";
        RegisterClassA(&wc); // again for a second watch: already there
        HWND hwnd = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    wc.hInstance, nullptr);
        HDEVNOTIFY note = nullptr;
        if (hwnd) {
            SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(w));
            DEV_BROADCAST_DEVICEINTERFACE_A filter = {};
            filter.dbcc_size = sizeof filter;
            filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
            filter.dbcc_classguid = portwatch_comport;
            note = RegisterDeviceNotificationA(hwnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        }
        ok = note != nullptr;
        error = ok ? 0 : GetLastError();
        w->threadId = GetCurrentThreadId();
        SetEvent(ready);
        if (!ok) {
            if (hwnd)
                DestroyWindow(hwnd);
            return;
        }
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0)
            DispatchMessageA(&msg);
        UnregisterDeviceNotification(note);
        DestroyWindow(hwnd);
    });
    WaitForSingleObject(ready, INFINITE);
    CloseHandle(ready);
    if (!ok) {
        w->thread.join();
        delete w;
        SetLastError(error);
        return nullptr;
    }
    return w;
}

void PlatPortWatchStop(PlatPortWatch *w)
{
    if (!w)
        return;
    PostThreadMessageA(w->threadId, WM_QUIT, 0, 0);
    w->thread.join();
    delete w;
}
