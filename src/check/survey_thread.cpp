// The survey thread and the wait for it; see survey_thread.h.
#include "check/survey_thread.h"

#include "check/survey.h"
#include "check/verdict.h"

static SurveyFindings sFindings;
// The number of the last survey; main thread only.
static LONG sSurveys;

static DWORD WINAPI SurveyThread(LPVOID number) {
    SurveyCandidates(&sFindings, static_cast<LONG>(reinterpret_cast<INT_PTR>(number)));
    return 0;
}

// TRUE once the survey thread has ended or the limit has passed, FALSE as soon as the watcher
// asks the instance to end: the request stays queued for the message loop. Waking for posted
// messages too, and looking at the queue after each wake, keeps the wait from spinning.
static BOOL AwaitSurvey(HANDLE thread) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD waited = GetTickCount() - start;
        if (waited >= kSurveyLimit)
            return TRUE;
        DWORD woken = MsgWaitForMultipleObjects(1, &thread, FALSE, kSurveyLimit - waited,
                                                QS_SENDMESSAGE | QS_POSTMESSAGE);
        if (woken != WAIT_OBJECT_0 + 1)
            return TRUE;
        MSG message;
        if (PeekMessageA(&message, NULL, WMU_QUIT, WMU_QUIT, PM_NOREMOVE))
            return FALSE;
    }
}

// A survey given up on stops before its next drive. Without a thread the drives are looked at
// here, as the only way left to look at all.
BOOL SurveyDrives(void) {
    LONG number = ++sSurveys;
    BeginSurvey(&sFindings);
    InterlockedExchange(&sFindings.running, number);
    BOOL going = TRUE;
    DWORD threadId;
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the survey's number as the thread's parameter
    LPVOID parameter = reinterpret_cast<LPVOID>(static_cast<INT_PTR>(number));
    HANDLE thread = CreateThread(NULL, 4096, SurveyThread, parameter, 0, &threadId);
    if (thread == NULL) {
        SurveyCandidates(&sFindings, number);
    } else {
        going = AwaitSurvey(thread);
        CloseHandle(thread);
    }
    InterlockedExchange(&sFindings.running, 0);
    ListDrives(&sFindings);
    return going;
}
