// The verdict and report; see verdict.h.
#include "check/verdict.h"

char gReportText[kReportCapacity];
HWND gHiddenWindow;
