// Bounded text helpers. Every write into a fixed buffer goes through these: each takes the
// buffer's capacity in bytes (terminator included) and never writes past it, cutting the text
// instead. They also stand in for the C library, which the Windows build does not link.
#pragma once

#include <stddef.h>

size_t TextLength(const char *text);

// Copies `source` into `dest`, cut so that it and its terminator fit `capacity` bytes.
// Returns the length written. A capacity of 0 writes nothing.
size_t TextCopy(char *dest, size_t capacity, const char *source);

// Appends `source` after the text already in `dest`, cut at the capacity. Returns the new
// length. A `dest` that holds no terminator within its capacity is left as it is.
size_t TextAppend(char *dest, size_t capacity, const char *source);

// Appends `value` in decimal digits, cut at the capacity like any other text. Returns the new
// length.
size_t TextAppendDecimal(char *dest, size_t capacity, unsigned long value);

// Copies `count` bytes; the ranges may overlap.
void MemoryMove(void *dest, const void *source, size_t count);
void MemoryFill(void *dest, int value, size_t count);

// ASCII letters compare equal in either case: the two bytes differ at most in bit 0x20.
inline bool SameLetterNoCase(unsigned char a, unsigned char b) {
    return ((a ^ b) & 0xDF) == 0;
}
