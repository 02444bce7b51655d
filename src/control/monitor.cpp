// The resident monitor: the instance event, the hidden window with its window procedure and
// message loop, and the watcher thread that ends the instance on a termination request.
#include "control/monitor.h"

#include "check/verdict.h"
#include "common/text.h"
#include "control/main.h"
#include "control/one_box.h"

HANDLE gEventHandle;

// Set once the hidden window has been destroyed, whoever destroyed it; main thread only.
static BOOL sWindowDestroyed;

// Creates the instance event. Returns FALSE when another start created it first, between our
// failed OpenEventA and now: that start is the resident one.
static BOOL CreateInstanceEvent(void) {
    SetLastError(ERROR_SUCCESS);
    gEventHandle = CreateEventA(NULL, FALSE, FALSE, INSTANCE_EVENT_NAME);
    return !(gEventHandle != NULL && GetLastError() == ERROR_ALREADY_EXISTS);
}

static HWND CreateHiddenWindow(void) {
    WNDCLASSA windowClass;
    MemoryFill(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = MonitorWindowProc;
    windowClass.lpszClassName = MONITOR_CLASS_NAME;
    RegisterClassA(&windowClass);
    return CreateWindowExA(0, MONITOR_CLASS_NAME, MONITOR_CLASS_NAME, WS_OVERLAPPEDWINDOW, 0, 0, 0,
                           0, NULL, NULL, NULL, NULL);
}

// The watcher starts only once the hidden window exists, so it can never post into the void;
// a request that came earlier left the auto-reset event signalled and wakes it at once.
static void StartWatcher(void) {
    DWORD threadId;
    HANDLE thread = CreateThread(NULL, 4096, TerminationWatcher, NULL, 0, &threadId);
    if (thread != NULL)
        CloseHandle(thread); // the thread runs on; we never wait for it
}

static void RunMessageLoop(void) {
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void RunResident(void) {
    if (!CreateInstanceEvent()) {
        // The winner is resident; our handle would only keep its event alive after it ends.
        CloseHandle(gEventHandle);
        gEventHandle = NULL;
        ShowAlreadyRunning();
        return;
    }
    sWindowDestroyed = FALSE;
    gHiddenWindow = CreateHiddenWindow();
    if (gHiddenWindow == NULL)
        return;
    StartWatcher();
    RunMessageLoop();
    if (!sWindowDestroyed)
        DestroyWindow(gHiddenWindow);
}

LRESULT CALLBACK MonitorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_QUERYENDSESSION:
        return AnswerSessionQuery(window);
    case WMU_QUIT:
        PostQuitMessage(0);
        break;
    case WMU_SHOW_REFUSAL:
        ShowRefusalOnce(window);
        break;
    case WM_DESTROY:
        // Destroyed from outside (a WM_CLOSE) or by us: either way nothing can reach the
        // instance any more, so it ends as after WMU_QUIT instead of lingering unseen.
        sWindowDestroyed = TRUE;
        PostQuitMessage(0);
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

DWORD WINAPI TerminationWatcher(LPVOID unused) {
    (void)unused;
    if (WaitForSingleObject(gEventHandle, INFINITE) == WAIT_OBJECT_0)
        PostMessageA(gHiddenWindow, WMU_QUIT, 0, 0);
    return 0;
}
