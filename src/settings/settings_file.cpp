// The settings file: finds the executable's path from the program name on the command line,
// reads the first 255 bytes of the .CFG file beside it and applies them as options.
#include "settings/settings_file.h"

#include "common/text.h"
#include "settings/dbcs.h"
#include "settings/options.h"
#include "settings/tokens.h"

enum { kPathCapacity = MAX_PATH, kFileTextLimit = 255 };

static const char kSettingsExtension[] = ".CFG";
static const size_t kExtensionLength = sizeof kSettingsExtension - 1;

static char gSettingsPath[kPathCapacity];
// A leading zero byte (the empty program name), the file text, and its terminator: together a
// double text for the splitter.
static char gSettingsText[1 + kFileTextLimit + 1];

// The executable's path, found along the default search path when the program name holds no
// backslash. A result that does not fit the buffer (the search then returns the size it needs)
// counts as not found; the name as typed is used then, its quotes still on.
static BOOL LocateProgram(const char *programName) {
    size_t nameLength = TextLength(programName);
    if (nameLength >= kPathCapacity)
        return FALSE;
    if (FindFirstChar(programName, '\\', nameLength, gLeadByteTable) == NULL) {
        char *filePart;
        DWORD found =
            SearchPathA(NULL, programName, ".EXE", kPathCapacity, gSettingsPath, &filePart);
        if (found > 0 && found < kPathCapacity)
            return TRUE;
    }
    TextCopy(gSettingsPath, kPathCapacity, programName);
    return TRUE;
}

static void RemoveQuotes(void) {
    size_t length = TextLength(gSettingsPath);
    if (length > 0 && gSettingsPath[0] == '"') {
        MemoryMove(gSettingsPath, gSettingsPath + 1, length);
        length--;
    }
    if (length > 0 && gSettingsPath[length - 1] == '"')
        gSettingsPath[length - 1] = '\0';
}

static bool EndsWithExe(const char *path, size_t length) {
    if (length < 4)
        return false;
    const char *tail = path + length - 4;
    return tail[0] == '.' && SameLetterNoCase(tail[1], 'E') && SameLetterNoCase(tail[2], 'X') &&
           SameLetterNoCase(tail[3], 'E');
}

// .CFG takes the place of .EXE in any case of letters, else it is appended; a path too long to
// take it whole gives up the settings file rather than open a cut name.
static BOOL SetSettingsExtension(void) {
    size_t length = TextLength(gSettingsPath);
    if (EndsWithExe(gSettingsPath, length))
        length -= 4;
    else if (length + kExtensionLength >= kPathCapacity)
        return FALSE;
    gSettingsPath[length] = '\0';
    TextAppend(gSettingsPath, kPathCapacity, kSettingsExtension);
    return TRUE;
}

// The path comes from entry 0 of the command line's own tokens; a command line that could not
// be split names no program, and then no settings file is read.
static BOOL BuildSettingsPath(void) {
    SplitCommandLine();
    BOOL built = gTokenTable.count > 0 && LocateProgram(gTokenTable.entries[0]);
    if (built) {
        RemoveQuotes();
        built = SetSettingsExtension();
    }
    ReleaseTokens();
    return built;
}

// A read that fails or returns nothing leaves an empty text.
static void ReadSettingsText(HANDLE file) {
    DWORD read = 0;
    if (!ReadFile(file, gSettingsText + 1, kFileTextLimit, &read, NULL) || read > kFileTextLimit)
        read = 0;
    gSettingsText[0] = '\0';
    gSettingsText[1 + read] = '\0';
}

// Line ends and the end-of-file mark separate like spaces; tabs stay and join what they stand
// between. No byte of a double-byte character has one of these values.
static void LineEndsToSpaces(char *text) {
    for (char *at = text; *at != '\0'; at++) {
        if (*at == '\r' || *at == '\n' || *at == '\x1A')
            *at = ' ';
    }
}

// A termination request in the file has no effect: it counts only on the command line.
void LoadSettingsFile(void) {
    if (!BuildSettingsPath())
        return;
    HANDLE file = CreateFileA(gSettingsPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    ReadSettingsText(file);
    CloseHandle(file);
    LineEndsToSpaces(gSettingsText + 1);
    TokenizeArguments(gSettingsText);
    ApplyOptions();
    ReleaseTokens();
}
