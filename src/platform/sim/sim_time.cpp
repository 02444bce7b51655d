// The clock that GetTickCount reads, Sleep, and GetSystemMetrics. The clock is the simulation's
// own: a test moves it, so that a time limit can be reached at will and without waiting.
#include "sim_internal.h"

#include <chrono>
#include <thread>

using namespace sim::detail;

namespace sim {

void AdvanceClock(DWORD milliseconds) {
    Guard lock(Mutex());
    St().clock += milliseconds; // wraps as GetTickCount does
    Changed().notify_all();
}

DWORD Clock() {
    Guard lock(Mutex());
    return St().clock;
}

int ClockWaiters() {
    Guard lock(Mutex());
    return St().clockWaiters;
}

void SetSystemMetric(int index, int value) {
    Guard lock(Mutex());
    St().systemMetrics[index] = value;
}

} // namespace sim

extern "C" {

DWORD WINAPI GetTickCount(void) {
    Guard lock(Mutex());
    return St().clock;
}

// The time slept passes for every thread; the real pause is only long enough to let the other
// threads run meanwhile.
void WINAPI Sleep(DWORD milliseconds) {
    {
        Guard lock(Mutex());
        St().clock += milliseconds;
        Changed().notify_all();
    }
    std::this_thread::sleep_for(std::chrono::microseconds(milliseconds > 0 ? 200 : 0));
}

int WINAPI GetSystemMetrics(int index) {
    Guard lock(Mutex());
    auto found = St().systemMetrics.find(index);
    return found == St().systemMetrics.end() ? 0 : found->second;
}

} // extern "C"
