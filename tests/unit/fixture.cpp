// The shared test fixture; see fixture.h.
#include "fixture.h"

#include "check/survey.h"
#include "check/survey_thread.h"
#include "check/verdict.h"
#include "control/messages.h"
#include "control/monitor.h"
#include "control/session_end.h"
#include "settings/dbcs.h"
#include "settings/settings.h"
#include "settings/tokens.h"

#include <chrono>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <vector>

// The survey threads' events of every start in this test, which live as long as the process
// that made them.
static std::vector<HANDLE> sSurveyEvents;

static void NoteSurveyEvents() {
    for (HANDLE event : {gSurveyWorker.wake, gSurveyWorker.done})
        if (event != NULL &&
            std::find(sSurveyEvents.begin(), sSurveyEvents.end(), event) == sSurveyEvents.end())
            sSurveyEvents.push_back(event);
}

int SurveyEventsMade() {
    NoteSurveyEvents();
    return static_cast<int>(sSurveyEvents.size());
}

int ProgramHandles() {
    NoteSurveyEvents();
    int kept = 0;
    for (HANDLE event : sSurveyEvents)
        kept += sim::HandleOpen(event) ? 1 : 0;
    return sim::OpenHandles() - kept;
}

void ForgetSurveyThread() {
    sSurveyEvents.clear();
    std::memset(&gSurveyWorker, 0, sizeof gSurveyWorker);
}

void ResetProgramState() {
    NoteSurveyEvents();
    std::memset(&gSettings, 0, sizeof gSettings);
    std::memset(&gTokenTable, 0, sizeof gTokenTable);
    std::memset(gLeadByteTable, 0, sizeof gLeadByteTable);
    std::memset(gMediaList, 0, sizeof gMediaList);
    std::memset(gEmptyList, 0, sizeof gEmptyList);
    std::memset(gReportText, 0, sizeof gReportText);
    gLanguageIndex = 0;
    gHiddenWindow = NULL;
    gEventHandle = NULL;
    std::memset(&gSessionServices, 0, sizeof gSessionServices);
    std::memset(&gSurveyWorker, 0, sizeof gSurveyWorker);
}

std::string Hex(const std::string &bytes) {
    std::string out;
    char cell[4];
    for (unsigned char c : bytes) {
        std::snprintf(cell, sizeof cell, "%02X ", c);
        out += cell;
    }
    return out;
}

void SimTest::SetUp() {
    sim::Reset();
    ForgetSurveyThread();
    ResetProgramState();
}

// The reset joins the threads the test's program left behind, as the process's end would end
// them; without it the last test's threads would outlive the test run.
void SimTest::TearDown() {
    for (const std::string &problem : sim::Problems())
        ADD_FAILURE() << "simulated platform: " << problem;
    sim::Reset();
}

void SimTest::ExpectNothingLeaked() {
    EXPECT_EQ(sim::LiveGlobalBlocks(), 0) << "global memory blocks left";
    EXPECT_EQ(ProgramHandles(), 0) << "kernel handles left open";
    EXPECT_EQ(sim::LiveWindows(), 0) << "windows left";
}

HungDrive::HungDrive(char letter, DWORD clockStep, bool answers) {
    sim::OnProbe([this, letter, clockStep, answers](char probed) {
        if ((probed & 0xDF) != letter)
            return;
        sim::AdvanceClock(clockStep);
        if (answers)
            return;
        std::unique_lock<std::mutex> lock(mutex_);
        held_++;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
        held_--;
        changed_.notify_all();
    });
}

HungDrive::~HungDrive() {
    sim::OnProbe(nullptr);
    Release();
    if (passer_.joinable())
        passer_.join();
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return held_ == 0; });
}

void HungDrive::Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    changed_.notify_all();
}

int HungDrive::Held() {
    std::lock_guard<std::mutex> lock(mutex_);
    return held_;
}

// 4.5 s: within 5 s of the query the program must have answered or shown its box.
void HungDrive::PassLimitsWhileHeld() {
    passer_ = std::thread([this] {
        for (int passed = 0;;) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (released_)
                    return;
            }
            if (Held() > passed && sim::ClockWaiters() > 0) {
                sim::AdvanceClock(4500);
                passed++;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
}
