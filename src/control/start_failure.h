// The box a start shows when it cannot become resident: the instance event, the hidden window's
// class, the hidden window or the watcher thread could not be made. It names the step that failed
// and the system's error code, in the catalogue's language.
#pragma once

#include "control/messages.h"
#include "platform/platform.h"

// `step` is one of MsgEventNotCreated, MsgClassNotRegistered, MsgWindowNotCreated and
// MsgWatcherNotStarted. The box shows even after /Q: that asks for quiet only where another copy
// already guards, and here none does.
void ShowStartFailure(MessageId step, DWORD error);
