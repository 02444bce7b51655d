// libFuzzer target for the settings: arbitrary bytes split and interpreted as a command line
// (program name included) or as the text of the settings file, on a single-byte or a
// double-byte code page, optionally with one allocation failing; checks what must always hold.
#include "control/messages.h"
#include "platform/sim/sim_control.h"
#include "settings/dbcs.h"
#include "settings/options.h"
#include "settings/settings.h"
#include "settings/settings_file.h"
#include "settings/tokens.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The first input byte picks the run: bit 0 the code page, bit 1 file or command line,
// bits 2-4 which GlobalAlloc fails (0: none), bits 5-7 the drive bits set beforehand.
struct Run {
    UINT codePage;
    bool asFile;
    int failingAlloc;
    DWORD maskBefore;
};

Run DecodeRun(uint8_t control) {
    Run run;
    run.codePage = (control & 1) ? 932 : 1252;
    run.asFile = (control & 2) != 0;
    run.failingAlloc = (control >> 2) & 7;
    run.maskBefore = static_cast<DWORD>(control >> 5) << 3;
    return run;
}

void Require(bool condition, const char *what) {
    if (condition)
        return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
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

void CheckTable() {
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

void RunAsFile(const std::string &text) {
    sim::SetCommandLine("C:\\SW\\SLOTWARD.EXE");
    sim::AddFile("C:\\SW\\SLOTWARD.CFG", text);
    LoadSettingsFile();
}

// The command line also names the settings file, so the path rules run on it first.
void RunAsCommandLine(const std::string &text) {
    sim::SetCommandLine(text);
    LoadSettingsFile();
    SplitCommandLine();
    CheckTable();
    ApplyOptions();
    ReleaseTokens();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    Run run = DecodeRun(data[0]);
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    ResetProgram(run);
    if (run.asFile)
        RunAsFile(text);
    else
        RunAsCommandLine(text);
    CheckOutcome(run);
    return 0;
}
