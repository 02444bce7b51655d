// The drive survey; see survey.h. Every call asks the platform afresh: nothing is cached, so a
// medium taken out a moment ago is seen as gone.
#include "check/survey.h"

#include "check/device.h"
#include "common/text.h"
#include "platform/platform.h"
#include "settings/settings.h"

char gMediaList[kDriveListCapacity];
char gEmptyList[kDriveListCapacity];

enum { kDriveCount = 26 };

// The drive names below are patched with the letter on the stack: a writable global would cost
// the exe a data section of its own.

static void AppendDriveEntry(char *list, char letter) {
    char entry[] = "?: ";
    entry[0] = letter;
    TextAppend(list, kDriveListCapacity, entry);
}

// The letter of the drive that holds Windows, or '\0' when the system does not say. With /U
// that drive is never checked: Windows To Go runs from a USB disk that cannot be taken out.
static char WindowsDriveLetter(void) {
    char directory[MAX_PATH];
    UINT length = GetWindowsDirectoryA(directory, MAX_PATH);
    if (length < 2 || length >= MAX_PATH || directory[1] != ':')
        return '\0';
    return static_cast<char>(directory[0] & 0xDF);
}

// A named drive is checked whatever its type, without asking its device. The device is asked
// only where its answer decides: whether a removable or CD-ROM drive is a mounted image, and
// with /U whether a fixed drive other than Windows' own is attached from outside.
// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the drive, whether the user named it
static BOOL IsChecked(char letter, BOOL included, WindowsDisk *windows) {
    char rootName[] = "?:";
    rootName[0] = letter;
    UINT type = GetDriveTypeA(rootName);
    if (included)
        return TRUE;
    if (type == DRIVE_REMOVABLE || type == DRIVE_CDROM)
        return !IsMountedImage(letter);
    if (type == DRIVE_FIXED && gSettings.externalDrives && letter != windows->letter)
        return IsAttachedFromOutside(letter, windows);
    return FALSE;
}

// Only "not ready" means an empty drive: any other failure (an empty or unreadable medium)
// still means something is in the slot. The pattern has no backslash, so the search runs in the
// drive's current directory, which is enough to tell whether a medium is there.
static BOOL HoldsMedium(char letter) {
    WIN32_FIND_DATAA findData;
    char searchPattern[] = "?:*.*";
    searchPattern[0] = letter;
    HANDLE search = FindFirstFileA(searchPattern, &findData);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        return TRUE;
    }
    return GetLastError() != ERROR_NOT_READY;
}

void SurveyDrives(void) {
    DWORD includeMask = gSettings.includeMask;
    DWORD excludeMask = gSettings.excludeMask;
    gMediaList[0] = '\0';
    gEmptyList[0] = '\0';

    WindowsDisk windows;
    windows.letter = gSettings.externalDrives ? WindowsDriveLetter() : '\0';
    windows.asked = FALSE;
    DWORD existing = GetLogicalDrives();
    for (int n = 0; n < kDriveCount; n++) {
        DWORD driveBit = 1u << n;
        char letter = static_cast<char>('A' + n);
        if ((existing & driveBit) == 0 || (excludeMask & driveBit) != 0)
            continue;
        // Every drive not excluded has its type asked, included or not.
        if (!IsChecked(letter, (includeMask & driveBit) != 0, &windows))
            continue;
        AppendDriveEntry(HoldsMedium(letter) ? gMediaList : gEmptyList, letter);
    }
}
