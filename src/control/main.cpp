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

// How long a termination request waits for the resident instance to go, and how often it
// looks. An instance that is not inside a box ends within milliseconds; one whose survey
// hangs ends as soon as its watcher wakes.
enum { kEndWait = 5000, kEndPoll = 50 };

// Only the resident instance holds the event for longer than a moment, so the event is gone
// once that instance has gone: its process has ended, whatever its threads were doing.
static BOOL AwaitResidentEnd(void) {
    DWORD start = GetTickCount();
    for (;;) {
        HANDLE event = OpenEventA(EVENT_ALL_ACCESS, FALSE, INSTANCE_EVENT_NAME);
        if (event == NULL)
            return TRUE;
        CloseHandle(event);
        if (GetTickCount() - start >= kEndWait)
            return FALSE;
        Sleep(kEndPoll);
    }
}

// Signals the resident instance, if this start found its event, and tells the user what
// happened: that it ended only once it has. The handle goes right after the signal, before the
// wait and the box: the signal stays with the event for the resident instance's watcher, and
// neither this start's wait nor a box left open may keep the event alive once that instance
// has ended. A copy with other rights (an elevated one) runs but cannot be reached: saying
// that it ended or that none runs would both be wrong.
static void RequestTermination(HANDLE found, BOOL otherRights) {
    BOOL signalled = found != NULL && SetEvent(found);
    if (found != NULL)
        CloseHandle(found);
    if (signalled && AwaitResidentEnd())
        ShowCatalogueBox(MsgTerminated, CaptionInformation, MB_ICONINFORMATION);
    else if (signalled)
        ShowCatalogueBox(MsgStillRunning, CaptionWarning, MB_ICONWARNING);
    else if (found != NULL || otherRights)
        ShowCatalogueBox(MsgOtherRights, CaptionWarning, MB_ICONWARNING);
    else
        ShowCatalogueBox(MsgNotRunning, CaptionInformation, MB_ICONWARNING);
}

// Only the resident instance keeps the instance event. Any other start lets go of the handle it
// opened as soon as it knows what it found, before any check or box: a report, a preview or an
// "already running" box left on the screen would otherwise keep the event alive after the
// resident instance has ended, and every later start would take it for a running one. What was
// found is decided from the open itself, never by looking again.
static BOOL LetGoOfFoundEvent(HANDLE found, BOOL otherRights) {
    if (found != NULL)
        CloseHandle(found);
    return found != NULL || otherRights;
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

// The current folder of a resident instance would hold its drive (a USB stick it was started
// from) for as long as it runs, and Windows would refuse to remove that drive. The settings are
// read by then, so no relative name is left to resolve.
static void LeaveStartFolder(void) {
    char folder[MAX_PATH];
    UINT length = GetSystemDirectoryA(folder, sizeof folder);
    if (length > 0 && length < sizeof folder)
        SetCurrentDirectoryA(folder);
}

// The resident instance creates the event itself and holds it until its very end: the process's
// end closes it, since the watcher thread may still be waiting on it, and waiting on a closed
// handle is undefined.
static void RunResidentUntilEnd(void) {
    LeaveStartFolder();
    RunResident();
}

int ProgramMain(void) {
    BuildLeadByteTable(gLeadByteTable, kLeadByteTableCapacity);
    SelectLanguage();
    HANDLE found = OpenEventA(EVENT_ALL_ACCESS, FALSE, INSTANCE_EVENT_NAME);
    BOOL otherRights = IsHeldWithOtherRights(found);
    BOOL terminateRequest = ReadSettings();
    // Probing an empty drive must never raise the system's own "insert a disk" dialog.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

    if (terminateRequest) {
        RequestTermination(found, otherRights);
        return 0;
    }
    BOOL running = LetGoOfFoundEvent(found, otherRights);
    if (gSettings.testReport || gSettings.previewMode)
        CheckMedia(NULL);
    else if (running)
        ShowAlreadyRunning();
    else
        RunResidentUntilEnd();
    return 0;
}

extern "C" void ProgramEntry(void) {
    ExitProcess(ProgramMain());
}
