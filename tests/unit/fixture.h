// Every host test starts from a fresh simulated machine and fresh program state, and ends by
// checking that the simulated platform saw nothing it was not set up for.
#pragma once

#include <gtest/gtest.h>

#include "platform/sim/sim_control.h"

#include <string>

// Zeroes every process-wide item of the program, as a new process would have it.
void ResetProgramState();

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
