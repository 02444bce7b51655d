// What newer Windows versions (Vista and later) add to the end of a session, used by the
// resident instance only. Since Vista a hidden window that refuses the session's end without a
// block reason is ended and the shutdown goes on; with one, the system lists SLOTWARD and the
// reason on its "apps are preventing shutdown" screen and lets the user choose. Offered here:
// - the block reason: while a query is checked, that the drives are being checked (so that a
//   slow drive does not get SLOTWARD ended for a late answer), then the drives that hold media,
//   set before a box or a forced refusal; removed once the session may end or its end is over;
// - the first place among applications in the shutdown order, and a restart registration with
//   the same arguments after /Q for Restart Manager and crashes (never after a reboot);
// - the test that tells Restart Manager's request to close this one program from a session end.
// Every system function used here is looked up by name when the instance becomes resident;
// each one that is missing (Windows 2000, XP) is simply not used.
#pragma once

#include "platform/platform.h"

typedef BOOL(WINAPI *BlockReasonCreateProc)(HWND window, LPCWSTR reason);
typedef BOOL(WINAPI *BlockReasonDestroyProc)(HWND window);
typedef BOOL(WINAPI *ShutdownParametersProc)(DWORD level, DWORD flags);
typedef HRESULT(WINAPI *RestartRegistrationProc)(LPCWSTR arguments, DWORD flags);

// What this system offers, found at the resident start; all NULL in every other run.
struct SessionServices {
    BlockReasonCreateProc createReason;
    BlockReasonDestroyProc destroyReason;
    BOOL reasonSet; // a block reason is registered for the hidden window
};

extern SessionServices gSessionServices;

// Called once the instance is resident with its hidden window: looks the services up, takes
// the first place in the shutdown order and registers the restart.
void PrepareForSessionEnd(void);

// Registers the block reason that says the drives are being checked, before the first drive is
// looked at: a slow drive must not let the system end SLOTWARD for an unanswered query.
void SetCheckingReason(void);

// Registers the block reason for the drives in gMediaList on the hidden window: the box text in
// gReportText when the user gave a template, else the built-in sentence that names the drives.
// Main thread only, where the window lives.
void SetBlockReason(void);

// Removes the block reason, if one is registered.
void ClearBlockReason(void);

// Restart Manager asks this one program to close: an installer or an update, no end of the
// session. While the session is ending, a close request belongs to that end instead: a restart
// that closes the programs registered for restart (EWX_RESTARTAPPS, as "shutdown /g" makes it)
// may reach this one so. Windows 2000 has no SM_SHUTTINGDOWN and answers 0: there every close
// request is only this program's, as it always was.
inline BOOL IsApplicationCloseRequest(LPARAM lParam) {
    return (lParam & ENDSESSION_CLOSEAPP) != 0 ? TRUE : FALSE;
}

inline BOOL IsCloseRequestOnly(LPARAM lParam) {
    return IsApplicationCloseRequest(lParam) && GetSystemMetrics(SM_SHUTTINGDOWN) == 0;
}

// In a remote session the drives are the host's, out of the signing-out user's reach, and they
// stay where they are: nothing to ask about. A shutdown or a restart from there is checked.
inline BOOL IsRemoteSignOut(LPARAM lParam) {
    return (lParam & ENDSESSION_LOGOFF) != 0 && GetSystemMetrics(SM_REMOTESESSION) != 0;
}

// The session ends whatever the programs answer.
inline BOOL IsCriticalEnd(LPARAM lParam) {
    return (lParam & ENDSESSION_CRITICAL) != 0 ? TRUE : FALSE;
}
