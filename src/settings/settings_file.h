// The settings file: the program's own path with .CFG in place of .EXE, read (its first 255
// bytes, a byte-order mark skipped and UTF-16 text converted to the ANSI code page) and applied
// like command-line arguments, before the command line's own options.
#pragma once

void LoadSettingsFile(void);
