// The verdict on a shutdown request, and the texts of the question box, the refusal box, the
// test report and the preview.
#pragma once

#include "platform/platform.h"

enum { kReportCapacity = 260 };

#define WMU_QUIT (WM_USER + 1)         // ends the resident instance's message loop
#define WMU_SHOW_REFUSAL (WM_USER + 2) // shows the refusal box from gReportText

extern char gReportText[kReportCapacity]; // text of the last box composed by CheckMedia
extern HWND gHiddenWindow;                // the resident instance's invisible window, or NULL

// Returns IDYES (6) when the session may end, IDNO (7) when the user refused, 1 for a forced
// refusal, 0 when the question box failed or the instance was asked to end during the survey.
// Meaningless for the test report.
int CheckMedia(HWND owner);

// Shows the refusal box for the text composed in gReportText (the custom caption or
// CaptionError); used by the preview and by the window procedure for WMU_SHOW_REFUSAL.
int ShowRefusal(HWND owner);
