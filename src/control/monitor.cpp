// The resident monitor; see monitor.h.
#include "control/monitor.h"

HANDLE gEventHandle;
