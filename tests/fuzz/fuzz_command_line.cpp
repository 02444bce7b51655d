// libFuzzer target for the command line: arbitrary bytes as the whole process command line,
// program name included. The program name also names the settings file, so the path rules run
// on it first; then the line is split and its options applied, as a start does.
#include "fuzz_support.h"

#include "settings/options.h"
#include "settings/settings_file.h"
#include "settings/tokens.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::Run run;
    std::string text;
    if (!fuzz::Prepare(data, size, &run, &text))
        return 0;
    sim::SetCommandLine(text);
    LoadSettingsFile();
    SplitCommandLine();
    fuzz::CheckTokenTable();
    ApplyOptions();
    ReleaseTokens();
    fuzz::CheckOutcome(run);
    return 0;
}
