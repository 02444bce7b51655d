// libFuzzer target for the settings file: arbitrary bytes as the .CFG file beside the program,
// read and applied as a start does, followed by a command line that names drive C:. Whatever
// the file holds, its exclusion mode must end with the file, so C: is always included.
#include "fuzz_support.h"

#include "settings/options.h"
#include "settings/settings.h"
#include "settings/settings_file.h"
#include "settings/tokens.h"

namespace {

const DWORD kCommandLineDrive = 1u << ('C' - 'A');

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::Run run;
    std::string text;
    if (!fuzz::Prepare(data, size, &run, &text))
        return 0;
    sim::SetCommandLine("C:\\SW\\SLOTWARD.EXE c:");
    sim::SetModulePath(u"C:\\SW\\SLOTWARD.EXE");
    sim::AddFile("C:\\SW\\SLOTWARD.CFG", text);
    LoadSettingsFile();
    fuzz::Require(gTokenTable.count == 0, "the file's table not released");
    SplitCommandLine();
    // A failing allocation may leave the command line unsplit; then it applies nothing.
    bool split = gTokenTable.count > 0;
    ApplyOptions();
    ReleaseTokens();
    if (split)
        fuzz::Require((gSettings.includeMask & kCommandLineDrive) != 0, "file's /X reached C:");
    fuzz::CheckOutcome(run);
    return 0;
}
