// The drive survey: which drives are checked (removable and CD-ROM drives that are not mounted
// images, with /U fixed drives attached from outside, plus included ones, minus excluded ones)
// and whether each holds a medium.
#pragma once

enum { kDriveListCapacity = 80 };

// Entries of three characters ("D: "), upper-case letters in ascending order, terminated.
extern char gMediaList[kDriveListCapacity]; // checked drives that hold a medium
extern char gEmptyList[kDriveListCapacity]; // checked drives that report no medium

void SurveyDrives(void);
