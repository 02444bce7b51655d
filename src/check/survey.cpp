// The drive survey; see survey.h.
#include "check/survey.h"

char gMediaList[kDriveListCapacity];
char gEmptyList[kDriveListCapacity];
