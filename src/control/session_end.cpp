// Newer session-end services for the resident instance; see session_end.h.
#include "control/session_end.h"

#include "check/survey.h"
#include "check/verdict.h"
#include "common/text.h"
#include "control/messages.h"
#include "settings/settings.h"
#include "settings/tokens.h"

SessionServices gSessionServices;

// Applications may take 0x100..0x3FF; the highest is asked first, before any other program has
// been told to close.
static const DWORD kFirstShutdownLevel = 0x3FF;
// The system's limit for a restart command line, terminator included.
enum { kRestartCapacity = 1024 };
// "/Q " before the arguments of a restart.
enum { kQuietLength = 3 };

// Converts as MessageBoxA converts its texts; the buffers live on the stack, since the system
// copies each text before the call that takes it returns. NULL when the text does not fit.
static LPCWSTR ToWide(const char *text, WCHAR *wide, int capacity) {
    return MultiByteToWideChar(CP_ACP, 0, text, -1, wide, capacity) > 0 ? wide : NULL;
}

// Through the type-less function pointer, which converts to any other without complaint. Kept
// out of line: one call site of GetProcAddress instead of four keeps the exe smaller.
typedef void (*AnyProc)(void);

__attribute__((noinline)) static AnyProc LookUp(HMODULE module, const char *name) {
    return module != NULL ? reinterpret_cast<AnyProc>(GetProcAddress(module, name)) : NULL;
}

// The argument text exactly as the splitter took it, which a restart gets after /Q: the character
// after the program name is dropped whatever it is (a space, a tab, or the first byte of an option
// right after a closing quote), then the spaces before the first token. Restart Manager puts it
// after the program's quoted path, where the restarted copy's splitter takes it apart into the same
// tokens. The settings file both copies read is the one beside the program, whatever the
// command line's program name holds.
static const char *ArgumentText(void) {
    const char *at = ProgramNameEnd(GetCommandLineA());
    if (*at != '\0')
        at++;
    while (*at == ' ')
        at++;
    return at;
}

void PrepareForSessionEnd(void) {
    HMODULE user32 = GetModuleHandleA("USER32");
    HMODULE kernel32 = GetModuleHandleA("KERNEL32");
    gSessionServices.createReason =
        reinterpret_cast<BlockReasonCreateProc>(LookUp(user32, "ShutdownBlockReasonCreate"));
    gSessionServices.destroyReason =
        reinterpret_cast<BlockReasonDestroyProc>(LookUp(user32, "ShutdownBlockReasonDestroy"));
    ShutdownParametersProc setLevel =
        reinterpret_cast<ShutdownParametersProc>(LookUp(kernel32, "SetProcessShutdownParameters"));
    if (setLevel != NULL)
        setLevel(kFirstShutdownLevel, 0);
    RestartRegistrationProc registerRestart =
        reinterpret_cast<RestartRegistrationProc>(LookUp(kernel32, "RegisterApplicationRestart"));
    if (registerRestart == NULL)
        return;
    // Arguments beyond the system's limit would be refused anyway; cut ones would restart
    // SLOTWARD with other settings. After a reboot the Startup entry starts it, and a second
    // copy would only say that it already runs. A restart is a start nobody asked for: /Q keeps
    // it quiet where a copy already runs (the Startup entry's, at a sign-in that also restarts
    // programs); a copy that runs with /Q already passes it on as it is.
    WCHAR arguments[kRestartCapacity];
    int quiet = gSettings.quietStart ? 0 : kQuietLength;
    arguments[0] = '/';
    arguments[1] = 'Q';
    arguments[2] = ' ';
    if (ToWide(ArgumentText(), arguments + quiet, kRestartCapacity - quiet) != NULL)
        registerRestart(arguments, RESTART_NO_REBOOT);
}

// With a template the system shows the same bytes as the box, caption left out; otherwise one
// sentence as the test report words it, which needs no question or request to make sense there.
static const char *ReasonText(char *sentence, size_t capacity) {
    if (gSettings.templatePrefix != NULL)
        return gReportText;
    TextCopy(sentence, capacity, GetMessageText(MsgInDrive));
    TextAppend(sentence, capacity, gMediaList);
    TextAppend(sentence, capacity, GetMessageText(MsgStillInserted));
    return sentence;
}

// A new reason replaces the one registered before. Never cut: every byte of an ANSI text
// becomes at most one UTF-16 unit.
static void RegisterReason(const char *text) {
    WCHAR reason[kReportCapacity];
    if (ToWide(text, reason, kReportCapacity) != NULL &&
        gSessionServices.createReason(gHiddenWindow, reason))
        gSessionServices.reasonSet = TRUE;
}

void SetCheckingReason(void) {
    if (gSessionServices.createReason != NULL)
        RegisterReason(GetMessageText(MsgCheckingDrives));
}

void SetBlockReason(void) {
    if (gSessionServices.createReason == NULL)
        return;
    char sentence[kReportCapacity];
    RegisterReason(ReasonText(sentence, sizeof sentence));
}

void ClearBlockReason(void) {
    if (!gSessionServices.reasonSet)
        return;
    gSessionServices.reasonSet = FALSE;
    // Wine 8 offers the creation without the removal.
    if (gSessionServices.destroyReason != NULL)
        gSessionServices.destroyReason(gHiddenWindow);
}
