// The argument splitter: the process command line or a double text into the token table, held
// in two moveable global blocks that stay locked until ReleaseTokens; see tokens.h.
#include "settings/tokens.h"

#include "common/text.h"
#include "settings/dbcs.h"

TokenTable gTokenTable;

// Takes the table's mutex, creating it (owned from the start) on first use. FALSE when it
// cannot be had; the table is then left alone.
static BOOL LockTable(void) {
    if (gTokenTable.lock == NULL) {
        gTokenTable.lock = CreateMutexA(NULL, TRUE, NULL);
        return gTokenTable.lock != NULL;
    }
    return WaitForSingleObject(gTokenTable.lock, INFINITE) != WAIT_FAILED;
}

static void FreeBlock(HGLOBAL *block) {
    if (*block == NULL)
        return;
    GlobalUnlock(*block);
    GlobalFree(*block);
    *block = NULL;
}

static void DropTable(void) {
    FreeBlock(&gTokenTable.entryBlock);
    FreeBlock(&gTokenTable.storageBlock);
    gTokenTable.entries = NULL;
    gTokenTable.count = 0;
}

// Allocates and locks a moveable block; on failure nothing is left allocated.
static void *AllocateLocked(SIZE_T bytes, HGLOBAL *block) {
    *block = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (*block == NULL)
        return NULL;
    void *memory = GlobalLock(*block);
    if (memory == NULL) {
        GlobalFree(*block);
        *block = NULL;
    }
    return memory;
}

// Room for entry 0, at most one token per two bytes of argument text (a token and the space
// after it), and the null entry. Storage: the program name, the tokens and their terminators
// never take more bytes than the text they come from, plus slack for the last terminator.
static char *AllocateTable(size_t programLength, size_t argumentLength) {
    size_t entrySlots = 1 + (argumentLength + 1) / 2 + 1;
    char **entries =
        static_cast<char **>(AllocateLocked(entrySlots * sizeof(char *), &gTokenTable.entryBlock));
    if (entries == NULL)
        return NULL;
    char *storage = static_cast<char *>(
        AllocateLocked(programLength + 1 + argumentLength + 2, &gTokenTable.storageBlock));
    if (storage == NULL) {
        FreeBlock(&gTokenTable.entryBlock);
        return NULL;
    }
    gTokenTable.entries = entries;
    return storage;
}

static void AddEntry(char *text) {
    gTokenTable.entries[gTokenTable.count++] = text;
}

// Copies the argument text into `dest` token by token, each with its terminator, and adds an
// entry for each. Worked examples (source -> tokens, each in brackets):
//   a  b         -> [a] [b]       a run of spaces is one separator; trailing spaces add none
//   "x y"z       -> [x yz]        quotes group and vanish
//   a\"b         -> [a"b]         backslash-quote is a literal quote, grouping unchanged
//   a\\"b c"     -> [a\"b] [c]     only the last backslash pairs; runs are never halved
//   "" x         -> [] [x]        an empty quoted token counts, but a final "" does not
// A lead byte and the byte after it are copied before any other test: on code page 932 the
// second byte may be a backslash, which must not pair with a following quote.
static void SplitArguments(const char *source, char *dest, const BYTE *leadBytes) {
    while (*source == ' ')
        source++;
    char *tokenStart = dest;
    BOOL insideQuotes = FALSE;
    BOOL secondByte = FALSE;
    for (; *source != '\0'; source++) {
        char byte = *source;
        if (secondByte) {
            secondByte = FALSE;
        } else if (IsLeadByte(static_cast<BYTE>(byte), leadBytes)) {
            secondByte = TRUE;
        } else if (byte == '"') {
            insideQuotes = !insideQuotes;
            continue;
        } else if (byte == '\\' && source[1] == '"') {
            byte = *++source;
        } else if (byte == ' ' && !insideQuotes) {
            while (source[1] == ' ')
                source++;
            byte = '\0';
        }
        *dest++ = byte;
        if (byte == '\0') {
            AddEntry(tokenStart);
            tokenStart = dest;
        }
    }
    if (dest != tokenStart) {
        *dest = '\0';
        AddEntry(tokenStart);
    }
}

void TokenizeArguments(const char *doubleText) {
    if (!LockTable())
        return;
    size_t programLength = TextLength(doubleText);
    const char *arguments = doubleText + programLength + 1;
    size_t argumentLength = TextLength(arguments);
    BYTE leadBytes[kLeadByteTableCapacity];
    BuildLeadByteTable(leadBytes, sizeof leadBytes);

    DropTable();
    char *storage = AllocateTable(programLength, argumentLength);
    if (storage != NULL) {
        TextCopy(storage, programLength + 1, doubleText);
        AddEntry(storage);
        SplitArguments(arguments, storage + programLength + 1, leadBytes);
        gTokenTable.entries[gTokenTable.count] = NULL;
    }
    ReleaseMutex(gTokenTable.lock);
}

// Plain byte searches: a quote or a space is never the second byte of a double-byte character
// in the code pages Windows uses for the ANSI interface.
const char *ProgramNameEnd(const char *line) {
    const char *at = line;
    if (*at == '"') {
        for (at++; *at != '\0'; at++) {
            if (*at == '"')
                return at + 1;
        }
        return at;
    }
    while (*at != '\0' && *at != ' ')
        at++;
    return at;
}

// The command line is copied into a temporary block with a second terminator, so that cutting
// off the program name turns it into a double text; a name that is the whole line is followed
// by an empty argument text. The character after a closing quote is overwritten whatever it is.
void SplitCommandLine(void) {
    const char *line = GetCommandLineA();
    if (line == NULL)
        return;
    size_t length = TextLength(line);
    HGLOBAL block;
    char *copy = static_cast<char *>(AllocateLocked(length + 2, &block));
    if (copy == NULL)
        return;
    TextCopy(copy, length + 1, line);
    copy[length + 1] = '\0';
    copy[ProgramNameEnd(copy) - copy] = '\0';
    TokenizeArguments(copy);
    FreeBlock(&block);
}

// Without a mutex (the split failed before creating one) nothing is taken, closed or created.
void ReleaseTokens(void) {
    if (gTokenTable.lock != NULL)
        WaitForSingleObject(gTokenTable.lock, INFINITE);
    DropTable();
    if (gTokenTable.lock != NULL) {
        ReleaseMutex(gTokenTable.lock);
        CloseHandle(gTokenTable.lock);
        gTokenTable.lock = NULL;
    }
}
