// Helpers for tests of a start that becomes resident: the run on a thread of its own, the
// termination request a later start would make, and waiting for boxes shown meanwhile.
#pragma once

#include "fixture.h"

#include <atomic>
#include <string>
#include <thread>

// A start that becomes resident runs on its own thread, as the real program's main thread.
// The command line is `program` followed directly by `arguments`.
class ResidentRun {
  public:
    explicit ResidentRun(const std::string &arguments,
                         const std::string &program = "C:\\SLOTWARD.EXE ");
    // A test that failed half-way must not hang: ends the instance the way an outsider can.
    ~ResidentRun();
    HWND WaitForWindow();
    // Waits for the run to end; one that does not end within seconds is a failure, and is then
    // ended as the process's end would (every wait of the simulation fails).
    int Join();

  private:
    std::thread thread_;
    std::atomic<bool> done_{false};
    int result_ = -1;
};

// Signals the instance event, as a start with /R does.
void RequestTermination();

// Waits up to seconds until at least `count` boxes have been shown.
bool WaitForBoxes(size_t count);
