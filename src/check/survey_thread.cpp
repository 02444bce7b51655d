// The survey thread and the wait for it; see survey_thread.h.
#include "check/survey_thread.h"

#include "check/survey.h"
#include "check/verdict.h"

SurveyWorker gSurveyWorker;
static SurveyFindings sFindings;
// The number of the last survey; main thread only.
static LONG sSurveys;

// Whoever takes `running` from the survey's number to 0 decides how it ended: the survey thread
// when it finished in time, the waiting thread when it gave up. The loser of that race knows
// where it stands, so a thread given up on never signals `done` to a later survey.
static BOOL Settle(LONG number) {
    return InterlockedCompareExchange(&sFindings.running, 0, number) == number;
}

static DWORD WINAPI SurveyThread(LPVOID unused) {
    (void)unused;
    while (WaitForSingleObject(gSurveyWorker.wake, INFINITE) == WAIT_OBJECT_0) {
        LONG number = ReadShared(&sFindings.running);
        SurveyCandidates(&sFindings, number);
        if (!Settle(number))
            break; // given up on: the next survey has a thread of its own
        SetEvent(gSurveyWorker.done);
    }
    return 0;
}

// Each event is made once; a survey thread is started only where none waits.
static BOOL WorkerReady(void) {
    SurveyWorker *worker = &gSurveyWorker;
    if (worker->wake == NULL)
        worker->wake = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (worker->done == NULL)
        worker->done = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (worker->wake == NULL || worker->done == NULL)
        return FALSE;
    if (!worker->idle) {
        DWORD threadId;
        HANDLE thread = CreateThread(NULL, 4096, SurveyThread, NULL, 0, &threadId);
        if (thread == NULL)
            return FALSE;
        CloseHandle(thread); // the thread runs on; it is never waited for
    }
    return TRUE;
}

// TRUE once the survey has finished or the limit has passed, FALSE as soon as the watcher asks
// the instance to end: the request stays queued for the message loop. A `done` left over from
// a survey that finished as the limit passed is taken and waited on. Waking for posted messages
// too, and looking at the queue after each wake, keeps the wait from spinning.
static BOOL AwaitSurvey(void) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD waited = GetTickCount() - start;
        if (waited >= kSurveyLimit)
            return TRUE;
        DWORD woken = MsgWaitForMultipleObjects(
            1, &gSurveyWorker.done, FALSE, kSurveyLimit - waited, QS_SENDMESSAGE | QS_POSTMESSAGE);
        if (woken == WAIT_OBJECT_0) {
            if (ReadShared(&sFindings.running) == 0)
                return TRUE;
            continue;
        }
        if (woken != WAIT_OBJECT_0 + 1)
            return TRUE;
        MSG message;
        if (PeekMessageA(&message, NULL, WMU_QUIT, WMU_QUIT, PM_NOREMOVE))
            return FALSE;
    }
}

// A survey given up on stops before its next drive. Without a survey thread the drives are
// looked at here, as the only way left to look at all.
BOOL SurveyDrives(void) {
    LONG number = ++sSurveys;
    BeginSurvey(&sFindings);
    InterlockedExchange(&sFindings.running, number);
    BOOL going = TRUE;
    if (!WorkerReady()) {
        SurveyCandidates(&sFindings, number);
        InterlockedExchange(&sFindings.running, 0);
    } else {
        SetEvent(gSurveyWorker.wake);
        going = AwaitSurvey();
        // Settled here, the survey was given up on and its thread may be held by a drive.
        gSurveyWorker.idle = !Settle(number);
    }
    ListDrives(&sFindings);
    return going;
}
