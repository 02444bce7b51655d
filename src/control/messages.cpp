// The message catalogue; see messages.h.
#include "control/messages.h"

int gLanguageIndex;
