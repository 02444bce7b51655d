// The survey on a thread of its own, waited for within a time limit. A dying card reader, a
// scratched disc that never spins up or a named letter whose server is gone can keep a look at
// a drive going for tens of seconds or for good; the thread that asked (the hidden window's,
// which must answer the session's query) never waits on a drive, and meanwhile runs what other
// threads send it: nested queries, the end of the session, the watcher's request.
#pragma once

#include "platform/platform.h"

// How long the survey may take before a drive that has not answered counts as holding a medium.
// Windows takes a window that has not answered the session's query within 5 s for hung and ends
// it; the box has to be on the screen by then.
enum { kSurveyLimit = 4000 };
