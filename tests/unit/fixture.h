// Every host test starts from a fresh simulated machine and fresh program state, and ends by
// checking that the simulated platform saw nothing it was not set up for.
#pragma once

#include <gtest/gtest.h>

#include "platform/sim/sim_control.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

// Zeroes every process-wide item of the program, as a new process would have it.
void ResetProgramState();
// Kernel handles open but the survey threads' two events, which a start makes once and keeps.
int ProgramHandles();
int SurveyEventsMade(); // those events, made in this test
// After sim::Reset within a test: the survey thread's events went with the machine.
void ForgetSurveyThread();

std::string Hex(const std::string &bytes); // "41 3A 20" — for readable byte-for-byte failures

// Names each case of a parameterised test after its `name` field, for readable test listings.
struct CaseName {
    template <class Case> std::string operator()(const ::testing::TestParamInfo<Case> &info) const {
        return info.param.name;
    }
};

class SimTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Asserts that no global memory block, kernel handle or window is left behind.
    void ExpectNothingLeaked();
};

// A drive whose probe does not come back until the test lets it go, as FindFirstFileA stays on
// a dying card reader or a scratched disc; with `answers` the probe comes back by itself, after
// moving the clock by `clockStep` (a slow drive). Lets every probe go when it goes out of scope.
class HungDrive {
  public:
    HungDrive(char letter, DWORD clockStep = 0, bool answers = false);
    ~HungDrive();
    HungDrive(const HungDrive &) = delete;
    HungDrive &operator=(const HungDrive &) = delete;
    void Release();
    int Held();
    // On a thread of its own until Release: moves the clock past any time limit once for each
    // probe of the drive that is held while the program waits on the clock.
    void PassLimitsWhileHeld();

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool released_ = false;
    int held_ = 0;
    std::thread passer_;
};
