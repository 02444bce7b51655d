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

// One survey thread serves survey after survey, as starting a thread per query would cost the
// answer time; a thread that a survey gave up on ends when its drive lets it go, and the next
// survey starts another. The two events live as long as the process.
struct SurveyWorker {
    HANDLE wake; // auto-reset: a survey is waiting to be run
    HANDLE done; // auto-reset: the survey thread finished a survey in time
    BOOL idle;   // a survey thread waits for `wake`; the hidden window's thread only
};
extern SurveyWorker gSurveyWorker;
