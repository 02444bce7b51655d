// The resident monitor: the instance event, the hidden window with its window procedure and
// message loop, and the watcher thread that ends the instance on a termination request.
#include "control/monitor.h"

#include "check/verdict.h"
#include "common/text.h"
#include "control/messages.h"
#include "control/one_box.h"
#include "control/session_end.h"
#include "control/start_failure.h"

HANDLE gEventHandle;

// Set once the hidden window has been destroyed, whoever destroyed it; main thread only.
static BOOL sWindowDestroyed;

// The id of the program's icon among its resources.
static const WORD kProgramIcon = 1;

BOOL IsHeldWithOtherRights(HANDLE event) {
    return event == NULL && GetLastError() == ERROR_ACCESS_DENIED;
}

// Creates the instance event. Returns FALSE when another start created it first, between our
// failed OpenEventA and now (that start is the resident one), or when a copy with other rights
// did (we may then not even open it). Any other failure leaves gEventHandle NULL and the error.
static BOOL CreateInstanceEvent(void) {
    SetLastError(ERROR_SUCCESS);
    gEventHandle = CreateEventA(NULL, FALSE, FALSE, INSTANCE_EVENT_NAME);
    if (IsHeldWithOtherRights(gEventHandle))
        return FALSE;
    return !(gEventHandle != NULL && GetLastError() == ERROR_ALREADY_EXISTS);
}

static LRESULT CALLBACK MonitorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The icon is what the system's "apps are preventing shutdown" screen shows beside the title.
// Only this program registers the class in its process: one that exists already is its own.
static BOOL RegisterHiddenWindowClass(void) {
    WNDCLASSA windowClass;
    MemoryFill(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = MonitorWindowProc;
    // NOLINTNEXTLINE(performance-no-int-to-ptr): a resource named by number, as Win32 names it
    windowClass.hIcon = LoadIconA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(kProgramIcon));
    windowClass.lpszClassName = MONITOR_CLASS_NAME;
    return RegisterClassA(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

static HWND CreateHiddenWindow(void) {
    return CreateWindowExA(0, MONITOR_CLASS_NAME, MONITOR_CLASS_NAME, WS_OVERLAPPEDWINDOW, 0, 0, 0,
                           0, NULL, NULL, NULL, NULL);
}

static DWORD WINAPI TerminationWatcher(LPVOID unused) {
    (void)unused;
    if (WaitForSingleObject(gEventHandle, INFINITE) == WAIT_OBJECT_0)
        PostMessageA(gHiddenWindow, WMU_QUIT, 0, 0);
    return 0;
}

// The watcher starts only once the hidden window exists, so it can never post into the void;
// a request that came earlier left the auto-reset event signalled and wakes it at once.
static BOOL StartWatcher(void) {
    DWORD threadId;
    HANDLE thread = CreateThread(NULL, 4096, TerminationWatcher, NULL, 0, &threadId);
    if (thread == NULL)
        return FALSE;
    CloseHandle(thread); // the thread runs on; we never wait for it
    return TRUE;
}

static void RunMessageLoop(void) {
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// The window's end posts the quit that ends a message loop: it is taken here, since a box's own
// loop would otherwise end on it and take the failure box down at once.
static void TakeDownHiddenWindow(void) {
    DestroyWindow(gHiddenWindow);
    if (sWindowDestroyed)
        RunMessageLoop();
}

// Nothing guards, and a copy that /R reported as ended while it runs on, or a start that ends
// without a word, would let the user believe otherwise. The event goes before the box, so that
// a start meanwhile does not take this one for a resident copy. No watcher waits on it.
static BOOL GiveUpStart(MessageId step, DWORD error) {
    if (gEventHandle != NULL)
        CloseHandle(gEventHandle);
    gEventHandle = NULL;
    ShowStartFailure(step, error);
    return FALSE;
}

// The hidden window and the watcher; FALSE, with the box shown and neither left, when one of
// them or the event cannot be made. Without the event /R could not reach this copy and the next
// start would become a second one. A block reason that cannot be registered later is no such
// failure.
static BOOL BecomeResident(void) {
    if (gEventHandle == NULL)
        return GiveUpStart(MsgEventNotCreated, GetLastError());
    if (!RegisterHiddenWindowClass())
        return GiveUpStart(MsgClassNotRegistered, GetLastError());
    gHiddenWindow = CreateHiddenWindow();
    if (gHiddenWindow == NULL)
        return GiveUpStart(MsgWindowNotCreated, GetLastError());
    if (!StartWatcher()) {
        DWORD error = GetLastError();
        TakeDownHiddenWindow();
        return GiveUpStart(MsgWatcherNotStarted, error);
    }
    return TRUE;
}

void RunResident(void) {
    if (!CreateInstanceEvent()) {
        // The winner is resident; our handle would only keep its event alive after it ends.
        if (gEventHandle != NULL)
            CloseHandle(gEventHandle);
        gEventHandle = NULL;
        ShowAlreadyRunning();
        return;
    }
    sWindowDestroyed = FALSE;
    if (!BecomeResident())
        return;
    PrepareForSessionEnd();
    RunMessageLoop();
    if (!sWindowDestroyed)
        DestroyWindow(gHiddenWindow);
}

// Restart Manager closing this one program (an update, an installer) is no end of the session:
// nothing to guard, unless the user is being asked about one. A critical end goes on whatever
// the answer, so nobody would read a box or a refusal: it is let go at once, as a remote
// session's sign-out is. A consent removes the block reason before the session may end.
static LRESULT AnswerEndQuery(HWND window, LPARAM lParam) {
    if (IsCloseRequestOnly(lParam))
        return AnswerCloseRequest();
    LRESULT answer =
        IsCriticalEnd(lParam) || IsRemoteSignOut(lParam) ? TRUE : AnswerSessionQuery(window);
    if (answer)
        ClearBlockReason();
    return answer;
}

// The end is over, done or cancelled: the reason goes. When Restart Manager closes the program,
// it ends as after WMU_QUIT; after a cancelled end it goes on guarding, and an open question
// that nobody waits for any more is taken down. A close request that Restart Manager gave up
// ended no session: the user's own end may still be asking, so its question and reason stay.
// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the message's own two, in their order
static void EndSession(HWND window, WPARAM ending, LPARAM lParam) {
    BOOL closeRequest = IsApplicationCloseRequest(lParam);
    if (!ending && closeRequest)
        return;
    ClearBlockReason();
    if (!ending)
        CloseQuestionOnCancel(window);
    else if (closeRequest)
        PostQuitMessage(0);
}

static LRESULT CALLBACK MonitorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_QUERYENDSESSION:
        return AnswerEndQuery(window, lParam);
    case WM_ENDSESSION:
        EndSession(window, wParam, lParam);
        break;
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
