/* The installer's decision on the installation folder; see folder_check.h. */
#include "folder_check.h"

/* Access entry kinds and flags, and the rights that matter, as the system defines them. */
#define ALLOWED_ACE 0x00
#define DENIED_ACE 0x01
#define DENIED_OBJECT_ACE 0x06
#define ALLOWED_CALLBACK_ACE 0x09
#define DENIED_CALLBACK_ACE 0x0A
#define DENIED_CALLBACK_OBJECT_ACE 0x0C
#define CONTAINER_INHERIT 0x02
#define INHERIT_ONLY 0x08
#define DELETE_RIGHT 0x00010000u
#define WRITE_DAC_RIGHT 0x00040000u
#define WRITE_OWNER_RIGHT 0x00080000u
#define DELETE_CHILD_RIGHT 0x00000040u
#define GENERIC_ALL_RIGHT 0x10000000u
#define GENERIC_EXECUTE_RIGHT 0x20000000u
#define GENERIC_WRITE_RIGHT 0x40000000u
#define GENERIC_READ_RIGHT 0x80000000u
/* What the generic rights mean for a file or folder (FILE_ALL_ACCESS, FILE_GENERIC_...). */
#define FILE_ALL_RIGHTS 0x001F01FFu
#define FILE_WRITE_RIGHTS 0x00120116u
#define FILE_READ_RIGHTS 0x00120089u
#define FILE_EXECUTE_RIGHTS 0x001200A0u
/* Rights that let their holder take a folder away: delete or rename it, or give itself any right
 * on it. */
#define TAKES_FOLDER (DELETE_RIGHT | WRITE_DAC_RIGHT | WRITE_OWNER_RIGHT)

/* Identifiers whose holders may change the folder anyway: SYSTEM, Administrators,
 * TrustedInstaller; and those that stand for the folder's owner, which is one of them once the
 * owner is: CREATOR OWNER (in an inherited entry, the owner of what is made; elsewhere nobody)
 * and OWNER RIGHTS. Power Users may be granted rights too: Windows 2000 and XP let them modify
 * Program Files, to install programs for everyone, so they could replace SLOTWARD in its default
 * folder all the same (and Vista and later leave the group empty and grant it nothing). */
static const unsigned char kSystem[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
static const unsigned char kAdministrators[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
static const unsigned char kTrustedInstaller[] = {
    1,    6,    0,    0,    0,    0,    0,    5,    80,   0,    0,    0,    0xB5, 0x89, 0xFB, 0x38,
    0x19, 0x84, 0xC2, 0xCB, 0x5C, 0x6C, 0x23, 0x6D, 0x57, 0x00, 0x77, 0x6E, 0xC0, 0x02, 0x64, 0x87};
static const unsigned char kCreatorOwner[] = {1, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0};
static const unsigned char kOwnerRights[] = {1, 1, 0, 0, 0, 0, 0, 3, 4, 0, 0, 0};
static const unsigned char kPowerUsers[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x23, 2, 0, 0};

/* What a walk over an access list found. */
typedef enum Finding { FOUND_NOTHING, FOUND_TAKES, FOUND_CHILDREN, FOUND_UNKNOWN } Finding;

static unsigned Word(const unsigned char *at) {
    return (unsigned)at[0] | (unsigned)at[1] << 8;
}

static unsigned Long(const unsigned char *at) {
    return Word(at) | Word(at + 2) << 16;
}

/* The identifier's length from its count of parts; 0 when it is not one. */
static int SidLength(const unsigned char *sid) {
    return sid != 0 && sid[0] == 1 && sid[1] <= 15 ? 8 + 4 * sid[1] : 0;
}

static int SameSid(const unsigned char *a, const unsigned char *b) {
    int length = SidLength(a);
    if (length == 0 || length != SidLength(b)) {
        return 0;
    }
    for (int i = 0; i < length; i++) {
        if (a[i] != b[i]) {
            return 0;
        }
    }
    return 1;
}

static int MayOwn(const unsigned char *sid, const unsigned char *installer) {
    return SameSid(sid, kSystem) || SameSid(sid, kAdministrators) ||
           SameSid(sid, kTrustedInstaller) || (installer != 0 && SameSid(sid, installer));
}

static int IsTrusted(const unsigned char *sid, const unsigned char *installer) {
    return MayOwn(sid, installer) || SameSid(sid, kCreatorOwner) || SameSid(sid, kOwnerRights) ||
           SameSid(sid, kPowerUsers);
}

/* An entry's rights with the generic ones replaced by what they mean for a file system object. */
static unsigned Mapped(unsigned rights) {
    static const unsigned kGeneric[4][2] = {{GENERIC_ALL_RIGHT, FILE_ALL_RIGHTS},
                                            {GENERIC_WRITE_RIGHT, FILE_WRITE_RIGHTS},
                                            {GENERIC_READ_RIGHT, FILE_READ_RIGHTS},
                                            {GENERIC_EXECUTE_RIGHT, FILE_EXECUTE_RIGHTS}};
    unsigned mapped = rights & 0x0FFFFFFFu;
    for (int i = 0; i < 4; i++) {
        if (rights & kGeneric[i][0]) {
            mapped |= kGeneric[i][1];
        }
    }
    return mapped;
}

/* A deny entry is never counted in the folder's favour: whom it reaches depends on group
 * memberships that the folder's own entries cannot tell. */
static int IsDenial(unsigned kind) {
    return kind == DENIED_ACE || kind == DENIED_OBJECT_ACE || kind == DENIED_CALLBACK_ACE ||
           kind == DENIED_CALLBACK_OBJECT_ACE;
}

/* What one granting entry lets someone who is not trusted do. takes: the rights that count as
 * taking the folder away (a volume's root cannot be deleted or renamed). */
static Finding Weigh(unsigned rights, unsigned takes) {
    if (Mapped(rights) & takes) {
        return FOUND_TAKES;
    }
    return Mapped(rights) & DELETE_CHILD_RIGHT ? FOUND_CHILDREN : FOUND_NOTHING;
}

/* Walks the access list: inherited says whether to weigh the entries that a folder made below
 * would be given, rather than those in force here. */
static Finding Walk(const unsigned char *acl, const unsigned char *installer, unsigned takes,
                    int inherited) {
    unsigned size = Word(acl + 2);
    unsigned count = Word(acl + 4);
    unsigned at = 8;
    if (size < 8) {
        return FOUND_UNKNOWN;
    }
    for (unsigned i = 0; i < count; i++) {
        const unsigned char *entry = acl + at;
        unsigned entrySize = at + 4 <= size ? Word(entry + 2) : 0;
        if (entrySize < 8 || at + entrySize > size) {
            return FOUND_UNKNOWN;
        }
        at += entrySize;
        int applies = inherited ? (entry[1] & CONTAINER_INHERIT) != 0 : !(entry[1] & INHERIT_ONLY);
        if (IsDenial(entry[0]) || !applies) {
            continue;
        }
        if ((entry[0] != ALLOWED_ACE && entry[0] != ALLOWED_CALLBACK_ACE) || entrySize < 12 ||
            SidLength(entry + 8) == 0 || 8 + (unsigned)SidLength(entry + 8) > entrySize) {
            return FOUND_UNKNOWN;
        }
        Finding found =
            IsTrusted(entry + 8, installer) ? FOUND_NOTHING : Weigh(Long(entry + 4), takes);
        if (found != FOUND_NOTHING) {
            return found;
        }
    }
    return FOUND_NOTHING;
}

static FolderVerdict JudgeFolder(const FolderFacts *folder, const unsigned char *installer,
                                 int isRoot) {
    if (!folder->readable || SidLength(folder->owner) == 0) {
        return FOLDER_UNREADABLE;
    }
    if (folder->isLink) {
        return FOLDER_LINK;
    }
    if (!folder->isFolder) {
        return FOLDER_NOT_A_FOLDER;
    }
    if (!MayOwn(folder->owner, installer)) {
        return FOLDER_FOREIGN_OWNER;
    }
    if (folder->dacl == 0) {
        return FOLDER_OPEN;
    }
    static const FolderVerdict kVerdicts[] = {FOLDER_ACCEPTED, FOLDER_OPEN, FOLDER_CHILDREN_OPEN,
                                              FOLDER_UNKNOWN_ENTRY};
    return kVerdicts[Walk(folder->dacl, installer,
                          isRoot ? TAKES_FOLDER & ~DELETE_RIGHT : TAKES_FOLDER, 0)];
}

FolderVerdict JudgeFolderChain(const FolderChain *chain, int *at) {
    *at = 0;
    if (!chain->onFixedDisk) {
        return FOLDER_NOT_FIXED;
    }
    if (!chain->keepsPermissions) {
        return FOLDER_NO_PERMISSIONS;
    }
    if (chain->count == 0) {
        return FOLDER_UNREADABLE;
    }
    for (*at = 0; *at < chain->count; ++*at) {
        FolderVerdict verdict = JudgeFolder(&chain->folders[*at], chain->installer, *at == 0);
        if (verdict != FOLDER_ACCEPTED) {
            return verdict;
        }
    }
    *at = chain->count - 1;
    if (chain->toBeMade > 0) {
        Finding handed =
            Walk(chain->folders[*at].dacl, chain->installer, TAKES_FOLDER | DELETE_CHILD_RIGHT, 1);
        if (handed != FOUND_NOTHING) {
            return handed == FOUND_UNKNOWN ? FOLDER_UNKNOWN_ENTRY : FOLDER_HANDS_DOWN_OPEN;
        }
    }
    return FOLDER_ACCEPTED;
}

static int IsDots(const char *name, int length) {
    return (length == 1 && name[0] == '.') || (length == 2 && name[0] == '.' && name[1] == '.');
}

int FolderPrefixes(const char *path, int (*isLeadByte)(unsigned char), int *lengths, int capacity) {
    char letter = path != 0 ? (char)(path[0] | 0x20) : '\0';
    if (letter < 'a' || letter > 'z' || path[1] != ':' || path[2] != '\\' || capacity < 1) {
        return 0;
    }
    int count = 0;
    int start = 3;
    lengths[count++] = 3;
    for (int at = 3;; at++) {
        unsigned char c = (unsigned char)path[at];
        if (c != '\\' && c != '\0') {
            if (c == '/' || c == ':') {
                return 0;
            }
            if (isLeadByte != 0 && isLeadByte(c) && path[at + 1] != '\0') {
                at++;
            }
            continue;
        }
        int length = at - start;
        if (length == 0) {
            return c == '\0' ? count : 0; /* the end, after a final backslash; or an empty name */
        }
        if (IsDots(path + start, length) || count == capacity) {
            return 0;
        }
        lengths[count++] = at;
        if (c == '\0') {
            return count;
        }
        start = at + 1;
    }
}
