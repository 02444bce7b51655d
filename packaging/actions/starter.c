/* The starter; see starter.h. WTSQueryUserToken (LocalSystem only) for each noted session. */
#include "starter.h"

typedef BOOL(WINAPI *UserTokenProc)(ULONG, PHANDLE);

/* TRUE when the session leaves the list (served, or its user is gone). */
static BOOL ServeSession(UserTokenProc userToken, const EndedCopy *copy) {
    HANDLE token = NULL;
    HANDLE linked = NULL;
    BYTE sid[SID_BYTES];
    TokenFacts facts;
    if (!userToken(copy->session, &token)) {
        LogNumbers("not started in session %1: no token for its user, error %2", copy->session,
                   GetLastError(), 0);
        return FALSE;
    }
    ReadTokenFacts(token, sid, &facts, &linked);
    StartChoice choice = ChooseSessionStart(copy->sid, copy->sidLength, &facts);
    BOOL refused = RefusalReason(choice) != NULL;
    if (refused) {
        Say("not started in session %1: %t", RefusalReason(choice), copy->session, 0, 0);
    }
    BOOL ok = !refused &&
              StartCopy(choice == START_WITH_LINKED ? linked : token, TRUE, copy->session, "");
    if (linked != NULL) {
        CloseHandle(linked);
    }
    CloseHandle(token);
    return LeavesList(choice, ok);
}

/* Zero-filled storage rather than the stack (see actions.c). */
static SessionList sEnded;

/* No starter's step makes a list afresh. ownRights: the installing user's, refused as expected. */
static void KeepRest(ListFacts *facts, BOOL ownRights) {
    facts->after = sEnded.count;
    ListFate fate = FateOfList(facts);
    BOOL written = fate == LIST_FORGOTTEN   ? ForgetEndedSessions()
                   : fate == LIST_UNCHANGED ? TRUE
                                            : WriteEndedSessions(&sEnded, NULL);
    DWORD error = GetLastError();
    if (!written && !(ownRights && error == ERROR_ACCESS_DENIED)) {
        LogNumbers("could not write the list of sessions: error %1", error, 0, 0);
    }
}

/* Nothing is started, and the list is kept, so that nothing of it is lost. */
static void SayTooLong(void) {
    LogNumbers("the program and its options do not fit in %1 bytes: SLOTWARD is not started, its "
               "users get it at the next logon",
               COMMAND_ROOM - 1, 0, 0);
}

/* The sessions still to serve stay at the front of the list, in their order. */
static void ServeAll(UserTokenProc userToken) {
    DWORD kept = 0;
    for (DWORD i = 0; i < sEnded.count; i++) {
        if (ServeSession(userToken, &sEnded.copies[i])) {
            continue;
        }
        if (kept != i) {
            CopyBytes(&sEnded.copies[kept], &sEnded.copies[i], sizeof(EndedCopy));
        }
        kept++;
    }
    sEnded.count = kept;
    AwaitResident();
}

void StartInSessions(const char *data, const char *owner) {
    UserTokenProc userToken = (UserTokenProc)SystemFunction("wtsapi32.dll", "WTSQueryUserToken");
    StartRead read = ReadStart(data);
    /* An uninstallation looks at any list, to leave one of another installation alone. */
    BOOL listed = ReadEndedSessions(&sEnded, read == READ_NO_PROGRAM ? NULL : owner);
    ListFacts facts = {STEP_START, listed, 0, sEnded.count, sEnded.count, userToken != NULL};
    if (read == READ_NO_PROGRAM) {
        facts.step = STEP_NO_PROGRAM;
        facts.owned = listed && ListOwnedBy(owner);
        if (listed && !facts.owned) {
            LogLine("the list of sessions is left to the installation this removal is part of");
        }
    } else if (read == READ_TOO_LONG) {
        SayTooLong();
        facts.startable = FALSE;
    } else if (listed && userToken == NULL) {
        LogNumbers("%1 session(s) left to the installing user: this system gives no "
                   "session's token (WTSQueryUserToken)",
                   sEnded.count, 0, 0);
    } else {
        ServeAll(userToken);
    }
    KeepRest(&facts, FALSE);
}

/* token: the process's, which CreateProcess starts with whatever the thread impersonates. */
static BOOL StartOwn(HANDLE token, DWORD session) {
    BYTE sid[SID_BYTES];
    TokenFacts own = {sid, 0, ELEVATION_UNKNOWN, 0};
    if (token != NULL) {
        ReadTokenFacts(token, sid, &own, NULL);
    }
    /* Its own copy where several users had one there; else the first, for the refusal. */
    const EndedCopy *copy = FindCopy(&sEnded, session, own.user, own.userLength);
    copy = copy != NULL ? copy : FindCopy(&sEnded, session, NULL, 0);
    if (copy == NULL) {
        LogNumbers("nothing left to start in the installing user's session %1", session, 0, 0);
        return FALSE;
    }
    StartChoice choice = ChooseOwnStart(copy->sid, copy->sidLength, &own);
    if (RefusalReason(choice) != NULL) {
        Say("not started in session %1: %t; its user gets SLOTWARD at the next logon",
            RefusalReason(choice), session, 0, 0);
        return FALSE;
    }
    if (!StartCopy(token, FALSE, session, "the installing user's ")) {
        return FALSE;
    }
    AwaitResident();
    RemoveCopy(&sEnded, copy);
    return TRUE;
}

void StartInOwnSession(const char *data, const char *owner) {
    DWORD session;
    BOOL listed = ReadEndedSessions(&sEnded, owner);
    ListFacts facts = {STEP_START, listed, 0, sEnded.count, sEnded.count, TRUE};
    StartRead read = ReadStart(data);
    if (read == READ_TOO_LONG) {
        SayTooLong();
    }
    if (read != READ_READY || !SessionOfProcess(GetCurrentProcessId(), &session)) {
        return;
    }
    HANDLE token = ProcessToken(GetCurrentProcess());
    BOOL started = StartOwn(token, session);
    if (token != NULL) {
        CloseHandle(token);
    }
    if (started) {
        KeepRest(&facts, TRUE);
    }
}
