// The drive survey: which drives are checked (removable and CD-ROM drives that are not mounted
// images, with /U fixed drives attached from outside, plus included ones, minus excluded ones)
// and whether each holds a medium. The looks at the drives run on a survey thread of their own
// (check/survey_thread); this part knows the drives, that one the waiting.
#pragma once

#include "platform/platform.h"

enum { kDriveListCapacity = 80 };

// Entries of three characters ("D: "), upper-case letters in ascending order, terminated.
extern char gMediaList[kDriveListCapacity]; // checked drives that hold a medium
extern char gEmptyList[kDriveListCapacity]; // checked drives that report no medium

// What the survey found, bit n for drive n (A = 0). Survey threads write, each change whole;
// the thread that waits may read at any moment. A thread that an earlier survey gave up on may
// still come back from its drive and write here: what it writes is that drive's own answer.
struct SurveyFindings {
    LONG candidates; // the drives that exist and are not excluded, set before the survey starts
    LONG checked;    // the candidates found to be checked so far
    LONG answered;   // the checked drives that answered whether they hold a medium
    LONG media;      // of those, the ones that hold one, each written before its `answered`
    LONG running;    // the number of the survey whose thread may go on; 0 when none may
};

// A value another thread may be writing, read whole.
static inline LONG ReadShared(LONG *value) {
    return InterlockedCompareExchange(value, 0, 0);
}

// Clears the findings and names the candidates; asks the system only which drives exist.
void BeginSurvey(SurveyFindings *findings);

// On the thread of survey `number`: first which candidates are checked, then whether each
// checked one holds a medium, until the survey is given up. A drive that an earlier survey's
// look has not left yet is not asked again: it stays unanswered, and never more than one look
// at a drive is in flight.
void SurveyCandidates(SurveyFindings *findings, LONG number);

// Fills the two lists from the findings as they stand. A drive that has not answered counts as
// holding a medium when it is checked, named by letter, or still held by a look in flight.
void ListDrives(SurveyFindings *findings);

// The whole survey within its time limit (check/survey_thread.cpp); FALSE when the resident
// instance was asked to end meanwhile, and nothing should be shown.
BOOL SurveyDrives(void);
