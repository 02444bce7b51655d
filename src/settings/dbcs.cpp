// Double-byte text handling: the lead-byte table of the active code page and the small searches
// built on it; see dbcs.h.
#include "settings/dbcs.h"

#include "common/text.h"

// Zero-filled storage, so a pair of zero bytes follows the last range unless the table is full.
BYTE gLeadByteTable[kLeadByteTableCapacity];

// Every write keeps two bytes of room, so the terminator always fits. A range that still runs
// at byte 255 gets no end byte; IsLeadByte then never counts a byte as a member of it.
BYTE *BuildLeadByteTable(BYTE *buffer, size_t capacity) {
    if (capacity == 0)
        return buffer;
    BYTE *out = buffer;
    size_t room = capacity;
    BOOL insideRange = FALSE;
    for (unsigned value = 0; value <= 0xFF; value++) {
        BOOL lead = IsDBCSLeadByte(static_cast<BYTE>(value)) ? TRUE : FALSE;
        if (lead == insideRange)
            continue;
        if (room < 2)
            break;
        *out++ = static_cast<BYTE>(lead ? value : value - 1);
        room--;
        insideRange = lead;
    }
    *out = 0;
    return buffer;
}

// The second byte of a pair is only read once its first byte proved the pair is not the end.
BOOL IsLeadByte(BYTE value, const BYTE *table) {
    for (const BYTE *pair = table; pair[0] != 0 && pair[1] != 0; pair += 2) {
        if (pair[0] <= value && value <= pair[1])
            return TRUE;
    }
    return FALSE;
}

// Bytes a character starting at `at` takes up: two for a lead byte, one otherwise.
static size_t CharacterSize(const char *at, const BYTE *table) {
    return IsLeadByte(static_cast<BYTE>(*at), table) ? 2 : 1;
}

// A lead byte in the last place is a cut character: the walk ends without stepping past the
// end of the text, and the lead byte itself never matches.
// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): strrchr's order, then the length
const char *FindLastChar(const char *text, char ch, size_t length, const BYTE *table) {
    const char *last = NULL;
    size_t at = 0;
    while (at < length) {
        size_t size = CharacterSize(text + at, table);
        if (size == 1 && text[at] == ch)
            last = text + at;
        at += size;
    }
    return last;
}

static bool MatchesNoCase(const char *text, const char *token, size_t tokenLength) {
    for (size_t i = 0; i < tokenLength; i++) {
        if (!SameLetterNoCase(static_cast<unsigned char>(text[i]),
                              static_cast<unsigned char>(token[i])))
            return false;
    }
    return true;
}

const char *FindTextNoCase(const char *text, const char *token, size_t length) {
    size_t tokenLength = TextLength(token);
    if (tokenLength > length)
        return NULL;
    for (size_t start = 0; start + tokenLength <= length; start++) {
        if (MatchesNoCase(text + start, token, tokenLength))
            return text + start;
    }
    return NULL;
}

size_t WholeCharacterLength(const char *text, size_t length, const BYTE *table) {
    size_t at = 0;
    while (at < length) {
        size_t size = CharacterSize(text + at, table);
        if (at + size > length)
            break;
        at += size;
    }
    return at;
}
