// Running the program resident in a host test: the start runs ProgramMain on a thread of its own,
// as the real program's main thread, in a process of its own, and the test talks to it through
// its hidden window. The process ends when the run is joined, closing what it still holds (the
// instance event, which the program leaves to the process's end).
#pragma once

#include "fixture.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <thread>

class ResidentRun {
  public:
    // The command line is `program` followed directly by `arguments`.
    explicit ResidentRun(const std::string &arguments,
                         const std::string &program = "C:\\SLOTWARD.EXE ");
    // A test that failed half-way must not hang: ends the instance the way an outsider can.
    ~ResidentRun();
    HWND WaitForWindow();
    // Waits for the run to end and ends its process; one that does not end within seconds is a
    // failure, and is then ended as the process's end would (every wait of the simulation fails).
    int Join();

  private:
    int process_;
    std::thread thread_;
    std::atomic<bool> done_{false};
    int result_ = -1;
};

// Signals the instance event, as a start with /R does.
void RequestTermination();

// Waits up to timeoutMs for the condition; returns whether it came true.
bool WaitUntil(const std::function<bool()> &condition, int timeoutMs = 30000);
// Waits until the box log holds at least count boxes.
bool WaitForBoxes(size_t count);
