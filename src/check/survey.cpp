// The drive survey; see survey.h. Every survey asks the platform afresh: nothing is cached, so a
// medium taken out a moment ago is seen as gone.
#include "check/survey.h"

#include "check/device.h"
#include "common/text.h"
#include "settings/settings.h"

char gMediaList[kDriveListCapacity];
char gEmptyList[kDriveListCapacity];

enum { kDriveCount = 26 };

// Nonzero while a survey thread looks at drive n. A look that never comes back keeps its flag,
// and every later survey leaves that drive alone.
static LONG sLookInFlight[kDriveCount];

// The drive names below are patched with the letter on the stack: a writable global would cost
// the exe a data section of its own.

static void AppendDriveEntry(char *list, char letter) {
    char entry[] = "?: ";
    entry[0] = letter;
    TextAppend(list, kDriveListCapacity, entry);
}

static void Publish(LONG *mask, DWORD driveBit) {
    InterlockedOr(mask, static_cast<LONG>(driveBit));
}

static BOOL BeginLook(int n) {
    return InterlockedExchange(&sLookInFlight[n], 1) == 0;
}

static void EndLook(int n) {
    InterlockedExchange(&sLookInFlight[n], 0);
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

void BeginSurvey(SurveyFindings *findings) {
    InterlockedExchange(&findings->checked, 0);
    InterlockedExchange(&findings->answered, 0);
    InterlockedExchange(&findings->media, 0);
    InterlockedExchange(&findings->candidates,
                        static_cast<LONG>(GetLogicalDrives() & ~gSettings.excludeMask));
}

// A drive's answer is published before its look ends, so that whoever reads the look's flag
// first and then the findings never misses a drive.
static void SurveyType(SurveyFindings *findings, int n, WindowsDisk *windows) {
    DWORD driveBit = 1u << n;
    char letter = static_cast<char>('A' + n);
    // A drive still held by an earlier survey's look has not answered: it counts as checked,
    // and the second pass asks it again if that look has come back by then.
    if (!BeginLook(n)) {
        Publish(&findings->checked, driveBit);
        return;
    }
    if (IsChecked(letter, (gSettings.includeMask & driveBit) != 0, windows))
        Publish(&findings->checked, driveBit);
    EndLook(n);
}

static void SurveyMedium(SurveyFindings *findings, int n) {
    DWORD driveBit = 1u << n;
    if (!BeginLook(n))
        return;
    if (HoldsMedium(static_cast<char>('A' + n)))
        Publish(&findings->media, driveBit);
    Publish(&findings->answered, driveBit);
    EndLook(n);
}

// Every candidate has its type asked, included or not; the media are asked only once all types
// are known, so that the checked drives after one that hangs are known too.
void SurveyCandidates(SurveyFindings *findings, LONG number) {
    WindowsDisk windows;
    windows.letter = gSettings.externalDrives ? WindowsDriveLetter() : '\0';
    windows.asked = FALSE;
    for (int pass = 0; pass < 2; pass++) {
        DWORD among =
            static_cast<DWORD>(ReadShared(pass == 0 ? &findings->candidates : &findings->checked));
        for (int n = 0; n < kDriveCount; n++) {
            if ((among & (1u << n)) == 0 || ReadShared(&findings->running) != number)
                continue;
            if (pass == 0)
                SurveyType(findings, n, &windows);
            else
                SurveyMedium(findings, n);
        }
    }
}

// The flags of the looks in flight are read first, then what the survey published: a look
// that ended meanwhile has published its answer before it ended.
void ListDrives(SurveyFindings *findings) {
    DWORD inFlight = 0;
    for (int n = 0; n < kDriveCount; n++)
        if (ReadShared(&sLookInFlight[n]))
            inFlight |= 1u << n;
    DWORD candidates = static_cast<DWORD>(ReadShared(&findings->candidates));
    DWORD answered = static_cast<DWORD>(ReadShared(&findings->answered));
    DWORD media = static_cast<DWORD>(ReadShared(&findings->media));
    DWORD unanswered =
        (static_cast<DWORD>(ReadShared(&findings->checked)) | gSettings.includeMask | inFlight) &
        ~answered;
    gMediaList[0] = '\0';
    gEmptyList[0] = '\0';
    for (int n = 0; n < kDriveCount; n++) {
        DWORD driveBit = 1u << n;
        char letter = static_cast<char>('A' + n);
        if ((candidates & driveBit) == 0)
            continue;
        if (((media | unanswered) & driveBit) != 0)
            AppendDriveEntry(gMediaList, letter);
        else if ((answered & driveBit) != 0)
            AppendDriveEntry(gEmptyList, letter);
    }
}
