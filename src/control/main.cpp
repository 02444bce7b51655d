// Start-up and mode dispatch: the process entry, the order in which the settings are read, and
// the choice between termination request, one-shot check, "already running" and resident mode.
#include "control/main.h"

#include "check/verdict.h"
#include "control/messages.h"
#include "control/monitor.h"
#include "platform/platform.h"
#include "settings/dbcs.h"
#include "settings/options.h"
#include "settings/settings.h"
#include "settings/settings_file.h"
#include "settings/tokens.h"

// Signals the resident instance, if one holds the event, and tells the user what happened. A
// copy with other rights (an elevated one) runs but cannot be reached: saying that it ended or
// that none runs would both be wrong.
static void RequestTermination(BOOL otherRights) {
    if (gEventHandle != NULL && SetEvent(gEventHandle))
        ShowCatalogueBox(MsgTerminated, CaptionInformation, MB_ICONINFORMATION);
    else if (gEventHandle != NULL || otherRights)
        ShowCatalogueBox(MsgOtherRights, CaptionWarning, MB_ICONWARNING);
    else
        ShowCatalogueBox(MsgNotRunning, CaptionInformation, MB_ICONWARNING);
}

// The settings file is read before the command line so that the command line wins; only the
// command line can ask the resident instance to end.
static BOOL ReadSettings(void) {
    LoadSettingsFile();
    SplitCommandLine();
    BOOL terminateRequest = ApplyOptions();
    ReleaseTokens();
    return terminateRequest;
}

int ProgramMain(void) {
    BuildLeadByteTable(gLeadByteTable, kLeadByteTableCapacity);
    SelectLanguage();
    gEventHandle = OpenEventA(EVENT_ALL_ACCESS, FALSE, INSTANCE_EVENT_NAME);
    BOOL otherRights = IsHeldWithOtherRights(gEventHandle);
    BOOL terminateRequest = ReadSettings();
    // Probing an empty drive must never raise the system's own "insert a disk" dialog.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

    if (terminateRequest)
        RequestTermination(otherRights);
    else if (gSettings.testReport || gSettings.previewMode)
        CheckMedia(NULL);
    else if (gEventHandle != NULL || otherRights)
        ShowAlreadyRunning();
    else
        RunResident();

    // The handle variable keeps its value: a watcher thread may still be reading it.
    if (gEventHandle != NULL)
        CloseHandle(gEventHandle);
    return 0;
}

extern "C" void ProgramEntry(void) {
    ExitProcess(ProgramMain());
}
