// The argument splitter; see tokens.h.
#include "settings/tokens.h"

TokenTable gTokenTable;
