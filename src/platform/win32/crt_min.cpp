// The few C library routines that GCC may emit calls to on its own (structure copies and
// zero-filling), for the Windows build, which links no C runtime.
#include <stddef.h>

extern "C" {

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the C library's own signature
void *memcpy(void *dest, const void *source, size_t count) {
    unsigned char *to = static_cast<unsigned char *>(dest);
    const unsigned char *from = static_cast<const unsigned char *>(source);
    while (count--)
        *to++ = *from++;
    return dest;
}

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the C library's own signature
void *memmove(void *dest, const void *source, size_t count) {
    unsigned char *to = static_cast<unsigned char *>(dest);
    const unsigned char *from = static_cast<const unsigned char *>(source);
    if (to < from) {
        while (count--)
            *to++ = *from++;
    } else {
        while (count--)
            to[count] = from[count];
    }
    return dest;
}

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the C library's own signature
void *memset(void *dest, int value, size_t count) {
    unsigned char *to = static_cast<unsigned char *>(dest);
    while (count--)
        *to++ = static_cast<unsigned char>(value);
    return dest;
}

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the C library's own signature
int memcmp(const void *a, const void *b, size_t count) {
    const unsigned char *x = static_cast<const unsigned char *>(a);
    const unsigned char *y = static_cast<const unsigned char *>(b);
    for (; count; count--, x++, y++) {
        if (*x != *y)
            return *x < *y ? -1 : 1;
    }
    return 0;
}
}
