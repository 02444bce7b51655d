// Bounded text helpers; see text.h.
#include "common/text.h"

size_t TextLength(const char *text) {
    size_t length = 0;
    while (text[length] != '\0')
        length++;
    return length;
}

size_t TextCopy(char *dest, size_t capacity, const char *source) {
    if (capacity == 0)
        return 0;
    size_t length = 0;
    while (length + 1 < capacity && source[length] != '\0') {
        dest[length] = source[length];
        length++;
    }
    dest[length] = '\0';
    return length;
}

size_t TextAppend(char *dest, size_t capacity, const char *source) {
    size_t used = 0;
    while (used < capacity && dest[used] != '\0')
        used++;
    if (used == capacity)
        return used;
    return used + TextCopy(dest + used, capacity - used, source);
}

// The capacity stands beside its buffer, as in every helper here; the value follows.
// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): that order, the helpers' own
size_t TextAppendDecimal(char *dest, size_t capacity, unsigned long value) {
    // Twenty digits hold the largest 64-bit value; the digits are made from the last one.
    char digits[21];
    size_t first = sizeof digits - 1;
    digits[first] = '\0';
    do {
        digits[--first] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 && first > 0);
    return TextAppend(dest, capacity, digits + first);
}

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): memmove's order, which every reader knows
void MemoryMove(void *dest, const void *source, size_t count) {
    unsigned char *to = static_cast<unsigned char *>(dest);
    const unsigned char *from = static_cast<const unsigned char *>(source);
    if (to < from) {
        for (size_t i = 0; i < count; i++)
            to[i] = from[i];
    } else {
        for (size_t i = count; i > 0; i--)
            to[i - 1] = from[i - 1];
    }
}

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): memset's order, which every reader knows
void MemoryFill(void *dest, int value, size_t count) {
    unsigned char *to = static_cast<unsigned char *>(dest);
    for (size_t i = 0; i < count; i++)
        to[i] = static_cast<unsigned char>(value);
}
