// The option interpreter: applies the tokens of the current token table to the settings
// record and the language, and takes apart the /M message template.
#pragma once

#include "platform/platform.h"

// Returns 1 when a termination request (/R) was among the tokens, else 0.
BOOL ApplyOptions(void);
