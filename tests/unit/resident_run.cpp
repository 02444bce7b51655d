// Running the program resident in a host test; see resident_run.h.
#include "resident_run.h"

#include "check/verdict.h"
#include "control/main.h"
#include "control/monitor.h"

#include <chrono>

ResidentRun::ResidentRun(const std::string &arguments, const std::string &program)
    : process_(sim::NewProcess()) {
    sim::SetCommandLine(program + arguments);
    thread_ = std::thread([this] {
        sim::RunInProcess(process_, [this] { result_ = ProgramMain(); });
        done_ = true;
    });
}

ResidentRun::~ResidentRun() {
    if (!thread_.joinable())
        return;
    HWND window = FindWindowA(MONITOR_CLASS_NAME, NULL);
    if (window != NULL)
        PostMessageA(window, WMU_QUIT, 0, 0);
    Join();
}

HWND ResidentRun::WaitForWindow() {
    return sim::WaitForWindow(MONITOR_CLASS_NAME, 5000);
}

int ResidentRun::Join() {
    for (int i = 0; i < 500 && !done_; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!done_) {
        ADD_FAILURE() << "the resident instance did not end";
        sim::Reset();
    }
    thread_.join();
    sim::EndProcess(process_);
    return result_;
}

void RequestTermination() {
    HANDLE event = OpenEventA(EVENT_ALL_ACCESS, FALSE, INSTANCE_EVENT_NAME);
    ASSERT_NE(event, (HANDLE)NULL);
    SetEvent(event);
    CloseHandle(event);
}

// Generous by default: it returns as soon as the condition holds, and a loaded machine
// (sanitizers, a parallel build) can take seconds over a thousand boxes.
bool WaitUntil(const std::function<bool()> &condition, int timeoutMs) {
    for (int i = 0; i < timeoutMs / 10 && !condition(); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return condition();
}

bool WaitForBoxes(size_t count) {
    return WaitUntil([count] { return sim::Boxes().size() >= count; });
}
