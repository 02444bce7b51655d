// The settings file: the executable's path with .CFG in place of .EXE, read (its first 255
// bytes) and applied like command-line arguments, before the command line's own options.
#pragma once

void LoadSettingsFile(void);
