// Start-up and mode dispatch: reads the settings (file first, then command line) and runs one
// of the four modes: termination request, one-shot check, "already running", or resident.
#pragma once

// The whole life of a run; returns the exit code, always 0.
int ProgramMain(void);

// The process entry: no C runtime start-up runs before it. Ends the process itself.
extern "C" void ProgramEntry(void);
