// The shared part of the settings fuzz targets; see fuzz_support.h.
#include "fuzz_support.h"

#include "control/messages.h"
#include "settings/dbcs.h"
#include "settings/settings.h"
#include "settings/tokens.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fuzz {

namespace {

Run DecodeRun(uint8_t control) {
    Run run;
    run.codePage = (control & 1) ? 932 : 1252;
    run.failingAlloc = (control >> 1) & 7;
    run.maskBefore = static_cast<DWORD>((control >> 4) & 7) << 3;
    return run;
}

void ResetProgram(const Run &run) {
    sim::Reset();
    std::memset(&gSettings, 0, sizeof gSettings);
    std::memset(&gTokenTable, 0, sizeof gTokenTable);
    gLanguageIndex = kJapanese;
    sim::SetCodePages(run.codePage, run.codePage);
    BuildLeadByteTable(gLeadByteTable, kLeadByteTableCapacity);
    gSettings.includeMask = run.maskBefore;
    gSettings.excludeMask = run.maskBefore;
    if (run.failingAlloc != 0)
        sim::FailCall(sim::Api::GlobalAlloc, run.failingAlloc);
}

// A part is absent, or starts inside the buffer and ends there with a terminator.
void CheckPart(const char *part) {
    if (part == nullptr)
        return;
    const char *buffer = gSettings.templateBuffer;
    Require(part >= buffer && part < buffer + kTemplateCapacity, "template part outside buffer");
    size_t room = static_cast<size_t>(buffer + kTemplateCapacity - part);
    Require(std::memchr(part, '\0', room) != nullptr, "template part not terminated in buffer");
}

} // namespace

bool Prepare(const uint8_t *data, size_t size, Run *run, std::string *text) {
    if (size == 0)
        return false;
    *run = DecodeRun(data[0]);
    text->assign(reinterpret_cast<const char *>(data + 1), size - 1);
    ResetProgram(*run);
    return true;
}

void Require(bool condition, const char *what) {
    if (condition)
        return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void CheckTokenTable() {
    Require(gTokenTable.count >= 0, "negative count");
    if (gTokenTable.count == 0)
        return;
    Require(gTokenTable.entries[gTokenTable.count] == nullptr, "no null entry");
    for (int i = 0; i < gTokenTable.count; i++)
        Require(gTokenTable.entries[i] != nullptr, "null entry inside the table");
}

void CheckOutcome(const Run &run) {
    Require(gTokenTable.count == 0, "table not released");
    Require(sim::LiveGlobalBlocks() == 0, "global block leaked");
    Require(sim::OpenHandles() == 0, "handle leaked");
    Require(sim::Problems().empty(), "simulated platform reported a problem");
    Require((gSettings.includeMask & run.maskBefore) == run.maskBefore, "include bit lost");
    Require((gSettings.excludeMask & run.maskBefore) == run.maskBefore, "exclude bit lost");
    Require((gSettings.includeMask | gSettings.excludeMask) >> 26 == 0, "bit beyond drive Z");
    Require(!(gSettings.testReport && gSettings.previewMode), "test report and preview both on");
    Require(gLanguageIndex == kJapanese || gLanguageIndex == kEnglish, "language out of range");
    Require(std::memchr(gSettings.templateBuffer, '\0', kTemplateCapacity) != nullptr,
            "template buffer not terminated");
    CheckPart(gSettings.templatePrefix);
    CheckPart(gSettings.templateSuffix);
    CheckPart(gSettings.customCaption);
}

} // namespace fuzz
