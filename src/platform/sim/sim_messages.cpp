// Per-thread message queues: posted messages in order, messages sent from other threads (run
// by the owner thread inside GetMessageA while the sender blocks), the quit flag, dispatch and
// the default window procedure.
#include "sim_internal.h"

using namespace sim::detail;

namespace {

DWORD MessageTime() {
    using namespace std::chrono;
    return static_cast<DWORD>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool Matches(const MSG &message, HWND window, UINT filterMin, UINT filterMax) {
    if (window && message.hwnd != window)
        return false;
    if (filterMin == 0 && filterMax == 0)
        return true;
    return message.message >= filterMin && message.message <= filterMax;
}

// The live window a message may go to; records a problem for a handle that never was a
// window. A destroyed window is no problem: a message may lose the race with its end.
Window *Target(HWND window, const char *api) {
    Window *record = LiveWindow(window);
    if (!record) {
        if (!FindWindowRecord(window))
            AddProblem(std::string(api) + " to a handle that was never a window " +
                       HandleText(window));
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    }
    return record;
}

} // namespace

namespace sim {
namespace detail {

bool Ending(unsigned generation) {
    return St().resetting || St().generation != generation;
}

bool RunOneSentMessage(Guard &lock) {
    auto found = St().queues.find(GetCurrentThreadId());
    if (found == St().queues.end() || found->second.sent.empty())
        return false;
    std::shared_ptr<SentMessage> sent = found->second.sent.front();
    found->second.sent.pop_front();
    Window *window = LiveWindow(sent->window);
    WNDPROC proc = window ? window->proc : nullptr;
    lock.unlock();
    LRESULT result = proc ? proc(sent->window, sent->message, sent->wParam, sent->lParam) : 0;
    lock.lock();
    sent->result = result;
    sent->done = true;
    Changed().notify_all();
    return true;
}

void CancelAllSentMessages() {
    for (auto &entry : St().queues) {
        for (auto &sent : entry.second.sent)
            sent->done = true;
        entry.second.sent.clear();
    }
}

// As on Windows, a thread's windows end with it; no window procedure can run any more.
void ThreadEnded(DWORD threadId) {
    Queue &queue = St().queues[threadId];
    queue.threadEnded = true;
    for (auto &sent : queue.sent)
        sent->done = true;
    queue.sent.clear();
    for (auto &entry : St().windows)
        if (entry.second.ownerThread == threadId)
            entry.second.gone = true;
}

} // namespace detail

int DispatchWaitingMessages() {
    int ran = 0;
    Guard lock(Mutex());
    for (;; ran++) {
        if (RunOneSentMessage(lock))
            continue;
        std::deque<MSG> &posted = St().queues[GetCurrentThreadId()].posted;
        if (posted.empty())
            return ran;
        MSG message = posted.front();
        posted.pop_front();
        lock.unlock();
        DispatchMessageA(&message);
        lock.lock();
    }
}

int SentMessagesWaiting(DWORD threadId) {
    Guard lock(Mutex());
    auto found = St().queues.find(threadId);
    return found == St().queues.end() ? 0 : static_cast<int>(found->second.sent.size());
}

} // namespace sim

extern "C" {

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Guard lock(Mutex());
    if (ShouldFail(sim::Api::PostMessageA)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    DWORD thread = GetCurrentThreadId(); // a null window posts to the calling thread
    if (window) {
        Window *record = Target(window, "PostMessageA");
        if (!record)
            return FALSE;
        thread = record->ownerThread;
    }
    Queue &queue = St().queues[thread];
    queue.posted.push_back(MSG{window, message, wParam, lParam, MessageTime(), {}});
    queue.postedUnseen = true;
    Changed().notify_all();
    return TRUE;
}

void WINAPI PostQuitMessage(int exitCode) {
    Guard lock(Mutex());
    Queue &queue = St().queues[GetCurrentThreadId()];
    queue.quit = true;
    queue.quitCode = exitCode;
    queue.postedUnseen = true;
    Changed().notify_all();
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax) {
    Guard lock(Mutex());
    unsigned generation = St().generation;
    DWORD me = GetCurrentThreadId();
    for (;;) {
        if (Ending(generation)) {
            SetLastError(ERROR_INVALID_HANDLE); // the process is ending
            return -1;
        }
        if (RunOneSentMessage(lock))
            continue;
        Queue &queue = St().queues[me];
        queue.postedUnseen = false;
        for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it) {
            if (Matches(*it, window, filterMin, filterMax)) {
                *msg = *it;
                queue.posted.erase(it);
                return msg->message == WM_QUIT ? FALSE : TRUE;
            }
        }
        if (queue.quit) { // only once every posted message has been taken
            queue.quit = false;
            *msg = MSG{NULL, WM_QUIT, static_cast<WPARAM>(queue.quitCode), 0, MessageTime(), {}};
            return FALSE;
        }
        Changed().wait(lock);
    }
}

// Runs every message sent to this thread, then looks for a posted one as GetMessageA would,
// without waiting; a quit request is found only where the filter takes WM_QUIT.
// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): Win32's own signature
BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT remove) {
    Guard lock(Mutex());
    while (RunOneSentMessage(lock)) {
    }
    Queue &queue = St().queues[GetCurrentThreadId()];
    queue.postedUnseen = false;
    for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it) {
        if (Matches(*it, window, filterMin, filterMax)) {
            *msg = *it;
            if (remove & PM_REMOVE)
                queue.posted.erase(it);
            return TRUE;
        }
    }
    MSG quit{NULL, WM_QUIT, static_cast<WPARAM>(queue.quitCode), 0, MessageTime(), {}};
    if (!queue.quit || !Matches(quit, NULL, filterMin, filterMax))
        return FALSE;
    *msg = quit;
    if (remove & PM_REMOVE)
        queue.quit = false;
    return TRUE;
}

// Waits for any one of the objects, or for the input the wake mask names: a message sent to
// this thread (QS_SENDMESSAGE), or one posted since the thread last looked at its queue
// (QS_POSTMESSAGE). The time-out is measured on the simulation's clock.
// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): Win32's own signature
DWORD WINAPI MsgWaitForMultipleObjects(DWORD count, const HANDLE *handles, BOOL waitAll,
                                       DWORD milliseconds, DWORD wakeMask) {
    Guard lock(Mutex());
    if (waitAll) {
        AddProblem("MsgWaitForMultipleObjects waiting for all objects at once");
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<std::shared_ptr<Object>> objects;
    for (DWORD i = 0; i < count; i++) {
        std::shared_ptr<Object> object = FindObject(handles[i]);
        if (!object || object->kind == Kind::File || object->kind == Kind::Find) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        objects.push_back(object);
    }
    DWORD me = GetCurrentThreadId();
    unsigned generation = St().generation;
    DWORD start = St().clock;
    for (;;) {
        if (Ending(generation)) {
            SetLastError(ERROR_INVALID_HANDLE); // the process is ending
            return WAIT_FAILED;
        }
        for (DWORD i = 0; i < count; i++)
            if (TryAcquire(*objects[i], me))
                return WAIT_OBJECT_0 + i;
        const Queue &queue = St().queues[me];
        if (((wakeMask & QS_SENDMESSAGE) && !queue.sent.empty()) ||
            ((wakeMask & QS_POSTMESSAGE) && queue.postedUnseen))
            return WAIT_OBJECT_0 + count;
        if (milliseconds != INFINITE && St().clock - start >= milliseconds)
            return WAIT_TIMEOUT;
        St().clockWaiters += milliseconds != INFINITE ? 1 : 0;
        Changed().wait(lock);
        St().clockWaiters -= milliseconds != INFINITE ? 1 : 0;
    }
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Guard lock(Mutex());
    Window *record = Target(window, "SendMessageA");
    if (!record)
        return 0;
    if (record->ownerThread == GetCurrentThreadId()) {
        WNDPROC proc = record->proc;
        lock.unlock();
        return proc ? proc(window, message, wParam, lParam) : 0;
    }
    Queue &queue = St().queues[record->ownerThread];
    if (queue.threadEnded)
        return 0;
    auto sent = std::make_shared<SentMessage>(SentMessage{window, message, wParam, lParam});
    queue.sent.push_back(sent);
    Changed().notify_all();
    unsigned generation = St().generation;
    for (;;) {
        if (sent->done)
            return sent->result;
        if (Ending(generation))
            return 0;
        // Messages sent to this thread meanwhile still run, so two threads sending to each
        // other cannot deadlock.
        if (!RunOneSentMessage(lock))
            Changed().wait(lock);
    }
}

BOOL WINAPI TranslateMessage(const MSG *) {
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG *msg) {
    Guard lock(Mutex());
    Window *record = (msg && msg->hwnd) ? LiveWindow(msg->hwnd) : nullptr;
    WNDPROC proc = record ? record->proc : nullptr;
    lock.unlock();
    return proc ? proc(msg->hwnd, msg->message, msg->wParam, msg->lParam) : 0;
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM) {
    switch (message) {
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_NCCREATE:
    case WM_QUERYENDSESSION:
        return TRUE;
    default:
        return 0;
    }
}

} // extern "C"
