// The survey thread and the wait for it; see survey_thread.h.
#include "check/survey_thread.h"

#include "check/survey.h"
#include "check/verdict.h"

// A survey thread that never comes back keeps its slot, and holds a drive that no later survey
// looks at: 26 such threads at most, and the one of the survey now running.
enum { kSurveySlots = 26 + 1 };

struct SurveySlot {
    LONG busy; // a survey thread works in this slot
    SurveyFindings findings;
};

static SurveySlot sSlots[kSurveySlots];

static DWORD WINAPI SurveyThread(LPVOID parameter) {
    SurveySlot *slot = static_cast<SurveySlot *>(parameter);
    SurveyCandidates(&slot->findings);
    InterlockedExchange(&slot->busy, 0); // the last thing this thread touches
    return 0;
}

static SurveySlot *TakeSlot(void) {
    for (SurveySlot &slot : sSlots)
        if (InterlockedCompareExchange(&slot.busy, 1, 0) == 0)
            return &slot;
    return NULL;
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

// Without a free slot every drive that has not answered is still held by a look, and counts
// as holding a medium without being asked. Without a thread the drives are looked at here, as
// the only way left to look at all.
BOOL SurveyDrives(void) {
    SurveyFindings spare;
    SurveySlot *slot = TakeSlot();
    SurveyFindings *findings = slot != NULL ? &slot->findings : &spare;
    BeginSurvey(findings);
    BOOL going = TRUE;
    if (slot != NULL) {
        DWORD threadId;
        HANDLE thread = CreateThread(NULL, 4096, SurveyThread, slot, 0, &threadId);
        if (thread == NULL) {
            SurveyThread(slot);
        } else {
            going = AwaitSurvey(thread);
            CloseHandle(thread);
        }
    }
    InterlockedExchange(&findings->abandoned, 1);
    ListDrives(findings);
    return going;
}
