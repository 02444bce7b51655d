// The shared test fixture; see fixture.h.
#include "fixture.h"

#include "check/survey.h"
#include "check/verdict.h"
#include "control/messages.h"
#include "control/monitor.h"
#include "settings/dbcs.h"
#include "settings/settings.h"
#include "settings/tokens.h"

#include <cstdio>
#include <cstring>

void ResetProgramState() {
    std::memset(&gSettings, 0, sizeof gSettings);
    std::memset(&gTokenTable, 0, sizeof gTokenTable);
    std::memset(gLeadByteTable, 0, sizeof gLeadByteTable);
    std::memset(gMediaList, 0, sizeof gMediaList);
    std::memset(gEmptyList, 0, sizeof gEmptyList);
    std::memset(gReportText, 0, sizeof gReportText);
    gLanguageIndex = 0;
    gHiddenWindow = NULL;
    gEventHandle = NULL;
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
    EXPECT_EQ(sim::OpenHandles(), 0) << "kernel handles left open";
    EXPECT_EQ(sim::LiveWindows(), 0) << "windows left";
}
