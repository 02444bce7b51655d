// Finding, reading and answering the message boxes that another process shows.
#pragma once

#include "report.h"

#include <set>
#include <string>
#include <vector>

// Watches for message boxes (top-level windows of class #32770) of one process, or of any
// process but the driver's own when pid is 0. Each new box is read into the report under
// "boxN." and answered with the next entry of the press list ("ok", "yes", "no", "cancel";
// "none", or an exhausted list, leaves it on screen). A watcher that holds leaves every box on
// screen until Release, so that what piles up meanwhile can be counted.
class BoxWatcher {
  public:
    BoxWatcher(DWORD pid, const std::vector<std::string> &presses, bool hold = false)
        : pid_(pid), presses_(presses), holding_(hold) {}

    // Handles every box that has appeared since the last call; returns how many.
    int Poll(Report &report);
    // Presses the held boxes that are still open, each with its own entry of the press list,
    // and stops holding.
    void Release(Report &report);
    // How many of the boxes this watcher has seen are still on screen.
    int OpenCount(void);
    // True while a box that this watcher has seen is still on screen.
    bool AnyOpen(void);
    int Count(void) const { return count_; }
    long long LastActivityMs(void) const { return lastActivityMs_; }

  private:
    void PressNumbered(HWND box, int number, Report &report);

    DWORD pid_;
    std::vector<std::string> presses_;
    std::set<HWND> seen_;
    bool holding_;
    std::vector<HWND> held_; // in the order they appeared
    int count_ = 0;
    long long lastActivityMs_ = 0;
};

// Splits "yes,no" into its entries; "none" gives an empty list.
std::vector<std::string> ParsePressList(const std::string &text);

// The file name of the process's executable ("slotward.exe"), or "?" when it cannot be read.
std::wstring ProcessName(DWORD pid);
// The full path of the process's executable, as it was started, or "?".
std::wstring ProcessPath(DWORD pid);
