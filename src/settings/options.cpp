// The option interpreter: walks the token table, sets the settings record and the language, and
// takes apart the /M message template into prefix, suffix and caption; see options.h.
#include "settings/options.h"

#include "common/text.h"
#include "control/messages.h"
#include "settings/dbcs.h"
#include "settings/settings.h"
#include "settings/tokens.h"

Settings gSettings;

static const char kDriveToken[] = "$DRIVE$";
static const size_t kDriveTokenLength = sizeof kDriveToken - 1;

static bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

static char UpperLetter(char c) {
    return static_cast<char>(c & 0xDF);
}

// Every letter directly followed by a colon names a drive, wherever it stands in the token; the
// scan is byte by byte, so the second byte of a double-byte character can name one too.
static void MarkDrives(const char *token, BOOL excluding) {
    for (const char *at = token; *at != '\0'; at++) {
        if (!IsAsciiLetter(at[0]) || at[1] != ':')
            continue;
        DWORD bit = 1u << (UpperLetter(at[0]) - 'A');
        if (excluding)
            gSettings.excludeMask |= bit;
        else
            gSettings.includeMask |= bit;
    }
}

// Copies the template text into the buffer. A text too long for it is cut to the capacity, and
// further by one byte if the cut would leave the first half of a double-byte character at the end.
static size_t CopyTemplate(const char *text) {
    char *buffer = gSettings.templateBuffer;
    size_t length = TextCopy(buffer, kTemplateCapacity, text);
    if (text[length] == '\0')
        return length;
    length = WholeCharacterLength(buffer, length, gLeadByteTable);
    buffer[length] = '\0';
    return length;
}

// The caption follows the last comma of the suffix; a comma inside a double-byte character is
// not one. A trailing comma only ends the suffix: an empty caption counts as none.
static void SplitOffCaption(char *suffix) {
    const char *comma = FindLastChar(suffix, ',', TextLength(suffix), gLeadByteTable);
    if (comma == NULL)
        return;
    char *at = suffix + (comma - suffix);
    *at = '\0';
    if (at[1] != '\0')
        gSettings.customCaption = at + 1;
}

// "/M text" and "/M?text": the prefix is the text before the first $DRIVE$ followed by one space
// (or empty when $DRIVE$ comes first), the suffix the text after it. Without $DRIVE$ all three
// parts stay absent and the built-in texts apply.
static void TakeTemplate(const char *token) {
    gSettings.templatePrefix = NULL;
    gSettings.templateSuffix = NULL;
    gSettings.customCaption = NULL;
    BOOL preview = token[2] == '?';
    gSettings.previewMode = preview;
    if (preview)
        gSettings.testReport = FALSE;

    char *buffer = gSettings.templateBuffer;
    size_t length = CopyTemplate(token + (preview ? 3 : 2));
    if (length == 0)
        return;
    const char *found = FindTextNoCase(buffer, kDriveToken, length);
    if (found == NULL)
        return;
    char *drive = buffer + (found - buffer);
    if (drive == buffer) {
        drive[0] = '\0';
    } else {
        drive[0] = ' ';
        drive[1] = '\0';
    }
    gSettings.templatePrefix = buffer;
    gSettings.templateSuffix = drive + kDriveTokenLength;
    SplitOffCaption(gSettings.templateSuffix);
}

// Only the character after the slash counts, in either case; /M also takes the rest.
static BOOL ApplyOption(const char *token, BOOL *excluding) {
    switch (UpperLetter(token[1])) {
    case 'E':
        gLanguageIndex = kEnglish;
        break;
    case 'F':
        gSettings.forceRefusal = TRUE;
        break;
    case 'M':
        TakeTemplate(token);
        break;
    case 'Q':
        gSettings.quietStart = TRUE;
        break;
    case 'R':
        return TRUE;
    case 'T':
        gSettings.testReport = TRUE;
        gSettings.previewMode = FALSE;
        break;
    case 'U':
        gSettings.externalDrives = TRUE;
        break;
    case 'X':
        *excluding = TRUE;
        break;
    default:
        break;
    }
    return FALSE;
}

// Exclusion mode lasts for the rest of this run only: the settings file's /X never reaches the
// command line's drive letters.
BOOL ApplyOptions(void) {
    BOOL terminateRequest = FALSE;
    BOOL excluding = FALSE;
    for (int i = 1; i < gTokenTable.count; i++) {
        const char *token = gTokenTable.entries[i];
        if (token[0] == '/') {
            if (ApplyOption(token, &excluding))
                terminateRequest = TRUE;
        } else {
            MarkDrives(token, excluding);
        }
    }
    return terminateRequest;
}
