/* The installer's rule for the installation folder; see folder_check.h. */
#include "folder_check.h"

#include "start_choice.h"

/* A path of MAX_PATH bytes holds fewer folders than this. */
#define MAX_NAMES 130

/* The owners who may change the folder anyway: SYSTEM, Administrators, TrustedInstaller. */
static const unsigned char kSystem[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
static const unsigned char kAdministrators[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
static const unsigned char kTrustedInstaller[] = {
    1,    6,    0,    0,    0,    0,    0,    5,    80,   0,    0,    0,    0xB5, 0x89, 0xFB, 0x38,
    0x19, 0x84, 0xC2, 0xCB, 0x5C, 0x6C, 0x23, 0x6D, 0x57, 0x00, 0x77, 0x6E, 0xC0, 0x02, 0x64, 0x87};

/* The identifier's length from its count of parts; 0 when it is not one. */
static int SidLength(const unsigned char *sid) {
    return sid != 0 && sid[0] == 1 && sid[1] <= 15 ? 8 + 4 * sid[1] : 0;
}

static int Same(const unsigned char *owner, const unsigned char *sid) {
    return SameBytes(owner, (unsigned)SidLength(owner), sid, (unsigned)SidLength(sid));
}

/* The owner's length was checked. */
static int TrustedOwner(const unsigned char *sid, const unsigned char *installer) {
    return Same(sid, kSystem) || Same(sid, kAdministrators) || Same(sid, kTrustedInstaller) ||
           (installer != 0 && Same(sid, installer));
}

static unsigned char Folded(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? (unsigned char)(c | 0x20) : c;
}

/* 0 unless folder begins with programFiles (a drive letter's path ending in a backslash). */
static int ProgramFilesLength(const char *folder, const char *programFiles,
                              int (*isLeadByte)(unsigned char)) {
    int at = 0;
    for (; programFiles[at] != '\0'; at++) {
        unsigned char c = (unsigned char)programFiles[at];
        if (Folded(c) != Folded((unsigned char)folder[at])) {
            return 0;
        }
        if (isLeadByte != 0 && isLeadByte(c) && programFiles[at + 1] != '\0') {
            at++;
            if (programFiles[at] != folder[at]) {
                return 0;
            }
        }
    }
    int local = at > 3 && programFiles[1] == ':' && programFiles[2] == '\\';
    return local && programFiles[at - 1] == '\\' ? at : 0;
}

/* Other separators, a stream's colon, and the wildcards, which a look by name would expand. */
static int Forbidden(unsigned char c) {
    const char *kForbidden = "/:*?\"<>|";
    for (const char *at = kForbidden; *at; at++) {
        if (c == (unsigned char)*at) {
            return 1;
        }
    }
    return c < 32;
}

/* Their count, 0 when there is none or the path is not plain (an empty name, "." or ".."). */
static int NameEnds(const char *folder, int start, int (*isLeadByte)(unsigned char), int *ends) {
    int count = 0;
    for (int at = start;; at++) {
        unsigned char c = (unsigned char)folder[at];
        if (c != '\\' && c != '\0') {
            if (Forbidden(c)) {
                return 0;
            }
            if (isLeadByte != 0 && isLeadByte(c) && folder[at + 1] != '\0') {
                at++;
            }
            continue;
        }
        if (at == start) {
            return c == '\0' ? count : 0; /* the end, after a final backslash; or an empty name */
        }
        int dots =
            folder[start] == '.' && (at - start == 1 || (at - start == 2 && folder[at - 1] == '.'));
        if (dots || count == MAX_NAMES) {
            return 0;
        }
        ends[count++] = at;
        if (c == '\0') {
            return count;
        }
        start = at + 1;
    }
}

static FolderVerdict JudgeExisting(const FolderFacts *facts, const unsigned char *installer) {
    if (!facts->readable) {
        return FOLDER_UNREADABLE;
    }
    if (facts->isLink) {
        return FOLDER_LINK;
    }
    if (!facts->isFolder) {
        return FOLDER_NOT_A_FOLDER;
    }
    if (!facts->longName) {
        return FOLDER_SHORT_NAME;
    }
    if (SidLength(facts->owner) == 0) {
        return FOLDER_UNREADABLE;
    }
    return TrustedOwner(facts->owner, installer) ? FOLDER_ACCEPTED : FOLDER_FOREIGN_OWNER;
}

FolderVerdict JudgeFolder(const char *folder, const char *programFiles,
                          int (*isLeadByte)(unsigned char), const FolderLook *look, int *at) {
    int ends[MAX_NAMES];
    int start =
        folder != 0 && programFiles != 0 ? ProgramFilesLength(folder, programFiles, isLeadByte) : 0;
    int count = start > 0 ? NameEnds(folder, start, isLeadByte, ends) : 0;
    *at = 0;
    while (folder != 0 && folder[*at] != '\0') {
        ++*at;
    }
    if (count == 0) {
        return FOLDER_OUTSIDE;
    }
    for (int i = 0; i < count; i++) {
        FolderFacts facts = {0, 0, 0, 0, 0, 0};
        *at = ends[i];
        look->look(look->context, folder, ends[i], &facts);
        if (!facts.exists) {
            return FOLDER_ACCEPTED;
        }
        FolderVerdict verdict = JudgeExisting(&facts, look->installer);
        if (verdict != FOLDER_ACCEPTED) {
            return verdict;
        }
    }
    return FOLDER_ACCEPTED;
}
