// The settings file: the program's own module path with .CFG in place of .EXE, its first 255
// bytes read (a byte-order mark skipped, UTF-16 text converted to the ANSI code page) and applied
// as options.
#include "settings/settings_file.h"

#include "common/text.h"
#include "settings/options.h"
#include "settings/tokens.h"

enum { kPathCapacity = MAX_PATH, kFileTextLimit = 255 };

static const WCHAR kSettingsExtension[] = {'.', 'C', 'F', 'G', '\0'};
static const size_t kExtensionLength = sizeof kSettingsExtension / sizeof(WCHAR) - 1;

// A leading zero byte (the empty program name), the file text, and its terminator: together a
// double text for the splitter.
static char gSettingsText[1 + kFileTextLimit + 1];

static bool IsUnitNoCase(WCHAR unit, char letter) {
    return (unit | 0x20) == (letter | 0x20);
}

static bool EndsWithExe(const WCHAR *path, size_t length) {
    if (length < 4)
        return false;
    const WCHAR *tail = path + length - 4;
    return tail[0] == '.' && IsUnitNoCase(tail[1], 'E') && IsUnitNoCase(tail[2], 'X') &&
           IsUnitNoCase(tail[3], 'E');
}

// The module path names the program in every script, where the command line's ANSI name holds
// question marks, or even another folder that best-fit conversion names, for what the code page
// cannot spell. Every path that the ANSI name could spell names the same file. A path that fills
// the buffer counts as too long: Windows XP then returns it cut and unterminated. .CFG takes the
// place of .EXE in any case of letters, else it is appended; a path that cannot take it whole
// gives up the settings file rather than open a cut name.
static BOOL BuildSettingsPath(WCHAR *path) {
    size_t length = GetModuleFileNameW(NULL, path, kPathCapacity);
    if (length == 0 || length >= kPathCapacity)
        return FALSE;
    if (EndsWithExe(path, length))
        length -= 4;
    else if (length + kExtensionLength >= kPathCapacity)
        return FALSE;
    MemoryMove(path + length, kSettingsExtension, sizeof kSettingsExtension);
    return TRUE;
}

// What the text holds of the bytes read: after a UTF-8 mark the bytes that follow it, after a
// UTF-16LE mark its whole units converted to the ANSI code page (126 units give at most 252
// bytes, so the conversion always fits), else every byte. A read that fails or returns nothing,
// or a conversion that fails, leaves an empty text.
static void ReadSettingsText(HANDLE file) {
    WCHAR raw[(kFileTextLimit + 1) / 2];
    const BYTE *bytes = reinterpret_cast<const BYTE *>(raw);
    char *text = gSettingsText + 1;
    DWORD read = 0;
    if (!ReadFile(file, raw, kFileTextLimit, &read, NULL) || read > kFileTextLimit)
        read = 0;
    int length = static_cast<int>(read);
    if (read >= 2 && raw[0] == 0xFEFF) {
        length = WideCharToMultiByte(CP_ACP, 0, raw + 1, static_cast<int>(read - 2) / 2, text,
                                     kFileTextLimit, NULL, NULL);
    } else {
        // ReadFile filled the first `read` bytes, and no byte beyond them is looked at.
        // cppcheck-suppress uninitvar
        DWORD skip = read >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
        length -= static_cast<int>(skip);
        MemoryMove(text, bytes + skip, static_cast<size_t>(length));
    }
    gSettingsText[0] = '\0';
    text[length] = '\0';
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
    WCHAR path[kPathCapacity];
    if (!BuildSettingsPath(path))
        return;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
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
