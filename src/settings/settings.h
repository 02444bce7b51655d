// The run-time settings record: one per process, all zero at start, filled from the settings
// file and then the command line, read by the media check and the resident monitor.
#pragma once

#include "platform/platform.h"

enum { kTemplateCapacity = 260 };

struct Settings {
    BOOL forceRefusal;    // /F: refuse a shutdown with media inserted without asking
    BOOL testReport;      // /T: show the test report once, then end
    BOOL previewMode;     // /M?: show the shutdown box once with the sample drive, then end
    BOOL externalDrives;  // /U: also check fixed drives attached from outside (USB and the like)
    BOOL quietStart;      // /Q: a start that finds a copy resident ends without a box
    DWORD includeMask;    // bit n: drive 'A'+n is checked whatever its type
    DWORD excludeMask;    // bit n: drive 'A'+n is never checked (wins over includeMask)
    char *templatePrefix; // parts of the user's /M template inside templateBuffer;
    char *templateSuffix; // NULL means absent (the built-in text applies), "" means empty
    char *customCaption;
    char templateBuffer[kTemplateCapacity];
};

extern Settings gSettings;
