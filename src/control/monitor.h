// The resident monitor: the instance event that detects a resident instance and carries the
// termination request, the hidden window that answers the session's end, and the watcher
// thread that ends the instance when the event is signalled.
#pragma once

#include "platform/platform.h"

#define INSTANCE_EVENT_NAME "--SEM32--VORNHALT--SLOTWARD--ALREADY.EXECUTED"
#define MONITOR_CLASS_NAME "SLOTWARD"

// The event the resident instance created, or NULL; closed once at the end of ProgramMain. No
// other start ever stores the handle it opened here: it lets go of that one before any box.
extern HANDLE gEventHandle;

// Right after opening or creating the instance event: TRUE when it failed with
// ERROR_ACCESS_DENIED, which means that SLOTWARD already runs in this session with other rights.
BOOL IsHeldWithOtherRights(HANDLE event);

void RunResident(void);
