// One box at a time; see one_box.h. Each flag is set only while its own call is running, so a
// box that fails or returns at once leaves nothing behind, and a later query or refusal shows
// its box again. Nothing else can bring a message to the window during a check: the survey and
// the posting of the refusal run no message loop, only the box does.
#include "control/one_box.h"

#include "check/verdict.h"
#include "control/session_end.h"

// A check is running, and with it the question box when one is shown.
static BOOL sCheckRunning;
// The refusal box is on screen.
static BOOL sRefusalOpen;

LRESULT AnswerSessionQuery(HWND window) {
    if (sCheckRunning)
        return FALSE;
    sCheckRunning = TRUE;
    SetCheckingReason();
    // Only a plain "yes" lets the session end; a failed box refuses.
    LRESULT answer = CheckMedia(window) == IDYES ? TRUE : FALSE;
    sCheckRunning = FALSE;
    return answer;
}

LRESULT AnswerCloseRequest(void) {
    return !sCheckRunning;
}

void ShowRefusalOnce(HWND window) {
    if (sCheckRunning || sRefusalOpen)
        return;
    sRefusalOpen = TRUE;
    ShowRefusal(window);
    sRefusalOpen = FALSE;
}

// Only our own boxes are owned by the hidden window, and of those only the question has a No
// button: any other window of the thread, the refusal box among them, is never touched.
static BOOL CALLBACK CloseIfQuestion(HWND candidate, LPARAM owner) {
    if (reinterpret_cast<LPARAM>(GetWindow(candidate, GW_OWNER)) != owner ||
        GetDlgItem(candidate, IDNO) == NULL)
        return TRUE;
    SendMessageA(candidate, WM_COMMAND, IDNO, 0);
    return FALSE;
}

// The walk runs whether or not a check is running: without a question it touches nothing, and
// the one rule above then keeps the refusal box too.
void CloseQuestionOnCancel(HWND window) {
    EnumThreadWindows(GetCurrentThreadId(), CloseIfQuestion, reinterpret_cast<LPARAM>(window));
}
