// The argument splitter: turns the process command line, or a double text (a program name and
// its terminator followed by an argument text), into the token table that the option
// interpreter walks. Spaces separate, double quotes group, a backslash before a quote makes it
// literal, and a double-byte character is never taken apart.
#pragma once

#include "platform/platform.h"

struct TokenTable {
    int count;            // entries including entry 0 (the program name); 0 when no table
    char **entries;       // entries 0..count-1, then NULL; points into the locked entry block
    HGLOBAL entryBlock;   // moveable block holding the entry array, locked while the table lives
    HGLOBAL storageBlock; // moveable block holding every token with its terminator
    HANDLE lock;          // unnamed mutex guarding the table, created on first use
};

extern TokenTable gTokenTable;

void SplitCommandLine(void);
// The end of the program name at the start of a command line: the character after its closing
// quote when it starts with one, else the first space; without either, the line's end.
const char *ProgramNameEnd(const char *line);
void TokenizeArguments(const char *doubleText);
void ReleaseTokens(void);
