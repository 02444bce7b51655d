// The option interpreter; see options.h.
#include "settings/options.h"
#include "settings/settings.h"

Settings gSettings;
