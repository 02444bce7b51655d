// Double-byte text handling: the table of lead-byte ranges of the active ANSI code page, the
// searches that never take the second byte of a double-byte character for a separator, and
// one case-insensitive search for ASCII tokens.
#pragma once

#include "platform/platform.h"

enum { kLeadByteTableCapacity = 16 };

// Built once at start-up, before anything reads text; used by the searches.
extern BYTE gLeadByteTable[kLeadByteTableCapacity];

// Fills `buffer` with (first, last) lead-byte pairs and a terminating zero; returns `buffer`.
BYTE *BuildLeadByteTable(BYTE *buffer, size_t capacity);
BOOL IsLeadByte(BYTE value, const BYTE *table);

// Position of the last single-byte `ch` within `length` bytes of `text`, or NULL.
const char *FindLastChar(const char *text, char ch, size_t length, const BYTE *table);

// Length of the longest run of whole characters within `length` bytes: a lead byte whose
// second byte would lie beyond is left out. Used where a text was cut at a buffer's capacity.
size_t WholeCharacterLength(const char *text, size_t length, const BYTE *table);

// First position of `token` within `length` bytes of `text`, ASCII letters in either case,
// or NULL. Not double-byte aware: meant for ASCII tokens that start with a non-letter.
const char *FindTextNoCase(const char *text, const char *token, size_t length);
