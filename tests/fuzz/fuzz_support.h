// What the settings fuzz targets share: the run that the first input byte selects, a fresh
// program on a fresh simulated machine for every input, and the invariants that must hold after
// any settings file or command line, however malformed.
#pragma once

#include "platform/sim/sim_control.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// The first input byte: bit 0 the code page (932 or 1252), bits 1-3 which GlobalAlloc fails
// (0: none), bits 4-6 drive bits set in both masks beforehand.
struct Run {
    UINT codePage;
    int failingAlloc;
    DWORD maskBefore;
};

// Splits an input into its run and its text and resets the program for it; false for an
// empty input, which has no run byte.
bool Prepare(const uint8_t *data, size_t size, Run *run, std::string *text);

void Require(bool condition, const char *what); // aborts with `what` when broken

void CheckTokenTable();            // while a table lives: its entries and its null end
void CheckOutcome(const Run &run); // after the tokens are released

} // namespace fuzz
