// Message boxes: every box is logged byte for byte and is a window of its thread while it is on
// screen; its answer comes from the test's hook, or else from the scripted answers, or from a
// button's command when it is left open; a box nobody expected is a problem.
#include "sim_internal.h"

using namespace sim::detail;

namespace sim {

void ScriptBoxAnswers(const std::vector<int> &answers) {
    Guard lock(Mutex());
    St().boxScript.assign(answers.begin(), answers.end());
}

void OnBox(std::function<int(const Box &)> hook) {
    Guard lock(Mutex());
    St().boxHook = std::move(hook);
}

const std::vector<Box> &Boxes() {
    return Snapshot<&State::boxes>();
}

} // namespace sim

namespace {

// The buttons of each MB_ type, in the order they stand in the box.
std::vector<int> ButtonIds(UINT type) {
    switch (type & 0xF) {
    case MB_OKCANCEL:
        return {IDOK, IDCANCEL};
    case 2: // MB_ABORTRETRYIGNORE
        return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL:
        return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
        return {IDYES, IDNO};
    case 5: // MB_RETRYCANCEL
        return {IDRETRY, IDCANCEL};
    default:
        return {IDOK};
    }
}

// As the system's box does, any button's command ends it with that id, whether or not the box
// shows the button: a program that sends No to a box without one closes it all the same.
LRESULT CALLBACK BoxProc(HWND box, UINT message, WPARAM wParam, LPARAM) {
    if (message != WM_COMMAND || LOWORD(wParam) < IDOK || LOWORD(wParam) > IDNO)
        return 0;
    Guard lock(Mutex());
    Window *record = LiveWindow(box);
    if (record && record->boxAnswer == 0) {
        record->boxAnswer = LOWORD(wParam);
        Changed().notify_all();
    }
    return 0;
}

HWND AddWindow(const Window &window) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr): a window handle is a number, as on Win32
    HWND handle = reinterpret_cast<HWND>(NewHandleValue());
    St().windows[reinterpret_cast<uintptr_t>(handle)] = window;
    return handle;
}

} // namespace

namespace sim {
namespace detail {

HWND CreateBoxWindow(HWND owner, const std::string &caption, UINT type) {
    Window box;
    box.className = "#32770";
    box.title = caption;
    box.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE;
    box.exStyle = (type & MB_SYSTEMMODAL) ? WS_EX_TOPMOST : 0;
    box.ownerThread = GetCurrentThreadId();
    box.proc = BoxProc;
    box.created = true;
    box.ownerWindow = owner;
    HWND handle = AddWindow(box);
    for (int id : ButtonIds(type)) {
        Window button;
        button.className = "Button";
        button.ownerThread = box.ownerThread;
        button.created = true;
        button.parent = handle;
        button.controlId = id;
        AddWindow(button);
    }
    St().queues[box.ownerThread];
    Changed().notify_all();
    return handle;
}

// The box and its buttons go, and with them what was posted to the box. The buttons were made
// right after the box under the same lock, so they follow it in the map of windows.
void EndBoxWindow(HWND box) {
    auto it = St().windows.find(reinterpret_cast<uintptr_t>(box));
    it->second.gone = true;
    while (++it != St().windows.end() && it->second.parent == box)
        it->second.gone = true;
    std::deque<MSG> &posted = St().queues[GetCurrentThreadId()].posted;
    std::deque<MSG> kept;
    for (const MSG &message : posted)
        if (message.hwnd != box)
            kept.push_back(message);
    posted.swap(kept);
    Changed().notify_all();
}

int RunBoxLoop(Guard &lock, HWND box, unsigned generation) {
    DWORD me = GetCurrentThreadId();
    for (;;) {
        Window *record = FindWindowRecord(box);
        if (Ending(generation) || !record || record->gone)
            return 0;
        if (record->boxAnswer != 0)
            return record->boxAnswer;
        if (record->ownerWindow && !LiveWindow(record->ownerWindow))
            return 0; // an owned window goes with its owner
        if (RunOneSentMessage(lock))
            continue;
        Queue &queue = St().queues[me];
        if (!queue.posted.empty()) {
            MSG message = queue.posted.front();
            queue.posted.pop_front();
            lock.unlock();
            DispatchMessageA(&message);
            lock.lock();
            continue;
        }
        if (queue.quit) // left set: the caller's own loop ends on it too
            return 0;
        Changed().wait(lock);
    }
}

} // namespace detail
} // namespace sim

extern "C" {

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    sim::Box box{
        owner, text ? text : "", caption ? caption : "Error", type, GetCurrentThreadId(), 0, NULL};
    std::function<int(const sim::Box &)> hook;
    size_t index;
    unsigned generation;
    int answer = 0;
    {
        Guard lock(Mutex());
        St().boxes.push_back(box);
        index = St().boxes.size() - 1;
        generation = St().generation;
        if (ShouldFail(sim::Api::MessageBoxA)) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        box.window = St().boxes[index].window = CreateBoxWindow(owner, box.caption, type);
        hook = St().boxHook;
        if (!hook) {
            if (!St().boxScript.empty()) {
                answer = St().boxScript.front();
                St().boxScript.pop_front();
            } else {
                AddProblem("unscripted message box: " + box.text);
            }
        }
    }
    // The hook may show boxes, send messages or signal events, so it runs unlocked.
    if (hook)
        answer = hook(box);
    Guard lock(Mutex());
    if (St().generation != generation)
        return answer;
    if (answer == sim::kKeepOpen)
        answer = RunBoxLoop(lock, box.window, generation);
    else if (Window *record = LiveWindow(box.window); record && record->boxAnswer != 0)
        answer = record->boxAnswer; // closed by the program while the hook ran
    if (St().generation != generation)
        return answer;
    EndBoxWindow(box.window);
    St().boxes[index].answer = answer;
    return answer;
}

} // extern "C"
