// One box at a time in the resident instance. A message box runs a message loop of its own, so
// while the question or the refusal box is open, messages sent or posted to the hidden window
// are handled inside it: each further query or refusal would otherwise open one more box inside
// the last, without end. These are the hidden window's answers to the two messages that show
// boxes; main thread only.
#pragma once

#include "platform/platform.h"

// WM_QUERYENDSESSION: TRUE only when the check consents. A query that arrives while the
// question box is open is refused at once, without a survey: the open question is already
// asking, and until it is answered Yes the session must not end.
LRESULT AnswerSessionQuery(HWND window);

// WM_QUERYENDSESSION with ENDSESSION_CLOSEAPP: Restart Manager asks this one program to close,
// which needs no check. While a check is running, and with it the question box, the request is
// refused like any other query then: granting it would end the program and take the user's
// question down with it, and the session would end with the medium still inserted.
LRESULT AnswerCloseRequest(void);

// WMU_SHOW_REFUSAL: shows the refusal box, unless a box is open already; the refusal is then
// dropped, as the open box is already in front of the user.
void ShowRefusalOnce(HWND window);

// WM_ENDSESSION with wParam FALSE: the end was cancelled. An open question would answer a query
// nobody waits for, so it is closed as if No had been pressed: the query that opened it is
// answered 0 and the next one asks afresh. An open refusal box stays: its advice still holds.
void CloseQuestionOnCancel(HWND window);
