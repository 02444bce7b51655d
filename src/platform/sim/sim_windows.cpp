// Window classes and windows: registration, creation through WM_NCCREATE and WM_CREATE (a child
// with its parent and control id, any other window with its owner), destruction through
// WM_DESTROY and WM_NCDESTROY on the owner thread, taking the thread's owned and child windows
// with it, lookup by class and title, and what a program asks of a message box's window: its
// owner, its buttons, and the windows of a thread. Window procedures always run without the
// simulator's lock.
#include "sim_internal.h"

using namespace sim::detail;

namespace sim {
namespace detail {

Window *FindWindowRecord(HWND window) {
    auto found = St().windows.find(reinterpret_cast<uintptr_t>(window));
    return found == St().windows.end() ? nullptr : &found->second;
}

Window *LiveWindow(HWND window) {
    Window *record = FindWindowRecord(window);
    return (record && !record->gone) ? record : nullptr;
}

} // namespace detail

namespace {

// The live window with that class (any class for null), or null.
// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): FindWindowA's order
HWND FindByClassAndTitle(const char *className, const char *title, bool createdOnly) {
    for (auto &entry : St().windows) {
        const Window &window = entry.second;
        if (window.gone || window.parent || (createdOnly && !window.created))
            continue;
        if (className && Upper(window.className) != Upper(className))
            continue;
        if (title && Upper(window.title) != Upper(title))
            continue;
        // NOLINTNEXTLINE(performance-no-int-to-ptr): a window handle is a number, as on Win32
        return reinterpret_cast<HWND>(entry.first);
    }
    return NULL;
}

// Destroys the live windows of the calling thread whose link (owner or parent) is that window:
// Windows destroys them with it, and those of other threads are not the caller's to destroy.
void DestroyLinked(HWND window, HWND Window::*link) {
    std::vector<HWND> linked;
    {
        Guard lock(Mutex());
        for (const auto &entry : St().windows)
            if (!entry.second.gone && entry.second.*link == window &&
                entry.second.ownerThread == GetCurrentThreadId())
                // NOLINTNEXTLINE(performance-no-int-to-ptr): a window handle is a number
                linked.push_back(reinterpret_cast<HWND>(entry.first));
    }
    for (HWND each : linked)
        DestroyWindow(each);
}

} // namespace

int LiveWindows() {
    Guard lock(Mutex());
    int live = 0;
    for (const auto &entry : St().windows)
        live += entry.second.gone ? 0 : 1;
    return live;
}

// One field of a window's record, or the empty value for a window the simulation never made.
template <typename T> static T ReadWindow(HWND window, T Window::*field) {
    Guard lock(Mutex());
    Window *record = FindWindowRecord(window);
    return record ? record->*field : T();
}

DWORD WindowStyle(HWND window) {
    return ReadWindow(window, &Window::style);
}

DWORD WindowExStyle(HWND window) {
    return ReadWindow(window, &Window::exStyle);
}

std::string WindowClassName(HWND window) {
    return ReadWindow(window, &Window::className);
}

std::string WindowTitle(HWND window) {
    return ReadWindow(window, &Window::title);
}

DWORD WindowThread(HWND window) {
    return ReadWindow(window, &Window::ownerThread);
}

int ClassIconResource(HWND window) {
    Guard lock(Mutex());
    Window *record = FindWindowRecord(window);
    if (!record)
        return 0;
    auto found = St().classes.find(Upper(record->className));
    if (found == St().classes.end())
        return 0;
    auto icon = St().icons.find(reinterpret_cast<uintptr_t>(found->second.copy.hIcon));
    return icon == St().icons.end() ? 0 : icon->second;
}

bool WindowVisible(HWND window) {
    Guard lock(Mutex());
    Window *record = LiveWindow(window);
    return record && (record->style & WS_VISIBLE);
}

// Only a window whose creation has finished counts, so that the test does not race the
// program's own WM_CREATE handling.
HWND WaitForWindow(const std::string &className, int timeoutMs) {
    Guard lock(Mutex());
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        HWND found = FindByClassAndTitle(className.c_str(), nullptr, true);
        if (found || std::chrono::steady_clock::now() >= deadline)
            return found;
        Changed().wait_until(lock, deadline);
    }
}

} // namespace sim

extern "C" {

ATOM WINAPI RegisterClassA(const WNDCLASSA *wndClass) {
    Guard lock(Mutex());
    if (ShouldFail(sim::Api::RegisterClassA)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    if (!wndClass || !wndClass->lpszClassName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string key = Upper(wndClass->lpszClassName);
    if (St().classes.count(key)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    WindowClass &registered = St().classes[key];
    registered.name = wndClass->lpszClassName;
    registered.copy = *wndClass;
    registered.copy.lpszClassName = registered.name.c_str(); // the caller's text may go
    return St().nextAtom++;
}

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): Win32's own signature
HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int,
                            int, int, int, HWND parent, HMENU menu, HINSTANCE, LPVOID) {
    HWND handle;
    WNDPROC proc;
    {
        Guard lock(Mutex());
        if (ShouldFail(sim::Api::CreateWindowExA)) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return NULL;
        }
        auto found = className ? St().classes.find(Upper(className)) : St().classes.end();
        if (found == St().classes.end()) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return NULL;
        }
        Window window;
        window.className = found->second.name;
        window.title = windowName ? windowName : "";
        window.style = style;
        window.exStyle = exStyle;
        window.ownerThread = GetCurrentThreadId();
        window.proc = proc = found->second.copy.lpfnWndProc;
        if (style & WS_CHILD) {
            window.parent = parent;
            window.controlId = static_cast<int>(reinterpret_cast<intptr_t>(menu));
        } else {
            window.ownerWindow = parent;
        }
        // NOLINTNEXTLINE(performance-no-int-to-ptr): a window handle is a number, as on Win32
        handle = reinterpret_cast<HWND>(NewHandleValue());
        St().windows[reinterpret_cast<uintptr_t>(handle)] = window;
        St().queues[window.ownerThread]; // the owner thread now has a message queue
    }
    if (proc && !proc(handle, WM_NCCREATE, 0, 0)) {
        Guard lock(Mutex());
        if (Window *window = LiveWindow(handle))
            window->gone = true;
        return NULL;
    }
    if (proc && proc(handle, WM_CREATE, 0, 0) == -1) {
        DestroyWindow(handle);
        return NULL;
    }
    Guard lock(Mutex());
    Window *window = LiveWindow(handle);
    if (!window)
        return NULL; // destroyed during its own creation
    window->created = true;
    Changed().notify_all();
    return handle;
}

BOOL WINAPI DestroyWindow(HWND window) {
    WNDPROC proc;
    {
        Guard lock(Mutex());
        Window *record = LiveWindow(window);
        if (!record) {
            if (!FindWindowRecord(window))
                AddProblem("DestroyWindow of a handle that was never a window " +
                           HandleText(window));
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (record->ownerThread != GetCurrentThreadId()) {
            AddProblem("DestroyWindow from a thread that does not own the window");
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (record->destroying)
            return TRUE; // already on its way, e.g. DestroyWindow inside WM_DESTROY
        record->destroying = true;
        proc = record->proc;
    }
    // As on Windows: owned windows first, then WM_DESTROY, then the children, WM_NCDESTROY last.
    sim::DestroyLinked(window, &Window::ownerWindow);
    if (proc)
        proc(window, WM_DESTROY, 0, 0);
    sim::DestroyLinked(window, &Window::parent);
    if (proc)
        proc(window, WM_NCDESTROY, 0, 0);
    Guard lock(Mutex());
    Window *record = FindWindowRecord(window);
    if (!record) // a Reset while the window procedure ran
        return TRUE;
    record->gone = true;
    // Its posted messages go with it; senders still waiting get 0.
    Queue &queue = St().queues[record->ownerThread];
    std::deque<MSG> kept;
    for (const MSG &message : queue.posted)
        if (message.hwnd != window)
            kept.push_back(message);
    queue.posted.swap(kept);
    std::deque<std::shared_ptr<SentMessage>> pending;
    for (auto &sent : queue.sent) {
        if (sent->window == window)
            sent->done = true;
        else
            pending.push_back(sent);
    }
    queue.sent.swap(pending);
    Changed().notify_all();
    return TRUE;
}

BOOL WINAPI IsWindow(HWND window) {
    Guard lock(Mutex());
    return LiveWindow(window) ? TRUE : FALSE;
}

HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName) {
    Guard lock(Mutex());
    return sim::FindByClassAndTitle(className, windowName, false);
}

HWND WINAPI GetWindow(HWND window, UINT command) {
    Guard lock(Mutex());
    if (command != GW_OWNER) {
        AddProblem("GetWindow with a command the simulation does not know");
        return NULL;
    }
    Window *record = LiveWindow(window);
    if (!record) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return NULL;
    }
    return record->ownerWindow;
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
    Guard lock(Mutex());
    for (const auto &entry : St().windows) {
        if (!entry.second.gone && entry.second.parent == dialog && entry.second.controlId == id)
            // NOLINTNEXTLINE(performance-no-int-to-ptr): a window handle is a number
            return reinterpret_cast<HWND>(entry.first);
    }
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return NULL;
}

// Top-level windows of the thread, the newest first as they stand in the z-order; FALSE when
// the callback stopped the walk or the thread has none, as on Windows.
BOOL WINAPI EnumThreadWindows(DWORD threadId, WNDENUMPROC proc, LPARAM lParam) {
    std::vector<HWND> found;
    {
        Guard lock(Mutex());
        for (auto it = St().windows.rbegin(); it != St().windows.rend(); ++it) {
            const Window &window = it->second;
            if (!window.gone && !window.parent && window.ownerThread == threadId)
                // NOLINTNEXTLINE(performance-no-int-to-ptr): a window handle is a number
                found.push_back(reinterpret_cast<HWND>(it->first));
        }
    }
    for (HWND window : found)
        if (!proc(window, lParam))
            return FALSE;
    return found.empty() ? FALSE : TRUE;
}

} // extern "C"
