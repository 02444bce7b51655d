/* Whether a folder may hold SLOTWARD: the installer's decision from the facts of the folder and
 * of every folder above it, made before anything is changed.
 *
 * The program in that folder is started in every session by the all-users Startup shortcut, an
 * administrator's included, and by the installer's helpers. Whoever can delete, rename or
 * re-permission a folder of that chain, or delete what a folder of it holds, can put a program of
 * their own in SLOTWARD's place. So every folder from the volume's root down must be owned by
 * the system, Administrators, TrustedInstaller or the administrator who installs, and nobody
 * else may be allowed to do any of that; the volume must keep permissions at all (FAT and exFAT
 * keep none) and stay in the computer (a removable disk or a share is replaced by unplugging it).
 * A folder the installer has still to make gets what the nearest existing one hands down.
 *
 * Plain C without system headers, so that the host's tests drive it with tables of owners and
 * access entries. Security identifiers and access control lists are read in their documented
 * binary form, as the system hands them over.
 */
#ifndef FOLDER_CHECK_H
#define FOLDER_CHECK_H

#ifdef __cplusplus
extern "C" {
#endif

/* What the installer found of one existing folder. */
typedef struct FolderFacts {
    int readable; /* opened, and its owner and access list read */
    int isFolder; /* a directory, not a file */
    int isLink;   /* a reparse point: a symbolic link, a junction or a volume mounted there */
    const unsigned char *owner; /* its owner's security identifier */
    const unsigned char *dacl;  /* its access list; NULL where it has none: open to everyone */
} FolderFacts;

typedef struct FolderChain {
    int onFixedDisk;                /* a disk of the computer's own, not removable, not a share */
    int keepsPermissions;           /* the volume keeps access lists (FILE_PERSISTENT_ACLS) */
    const unsigned char *installer; /* the installing administrator's identifier, or NULL */
    const FolderFacts *folders;     /* the existing folders, from the volume's root down */
    int count;
    int toBeMade; /* folders below the last existing one that the installer will make */
} FolderChain;

typedef enum FolderVerdict {
    FOLDER_ACCEPTED,
    FOLDER_NOT_FIXED,       /* removable, a share, or not a plain local path */
    FOLDER_NO_PERMISSIONS,  /* the file system keeps none */
    FOLDER_UNREADABLE,      /* its owner or access list could not be read */
    FOLDER_NOT_A_FOLDER,    /* a file stands where a folder should */
    FOLDER_LINK,            /* a link, a junction or a mounted volume: it leads elsewhere */
    FOLDER_FOREIGN_OWNER,   /* owned by someone else, who may always change its permissions */
    FOLDER_OPEN,            /* others may delete, rename or re-permission it */
    FOLDER_CHILDREN_OPEN,   /* others may delete or rename what it holds */
    FOLDER_HANDS_DOWN_OPEN, /* the folders to be made below it would be open to others */
    FOLDER_UNKNOWN_ENTRY    /* an access entry of a kind this check cannot weigh */
} FolderVerdict;

/* The verdict on the chain; *at: the index of the folder it concerns (the last existing one for
 * FOLDER_HANDS_DOWN_OPEN, 0 for the volume's verdicts). */
FolderVerdict JudgeFolderChain(const FolderChain *chain, int *at);

/* The lengths of the path's folders from the volume's root down: "C:\" is 3, "C:\Tools" 8, a
 * final backslash ignored. isLeadByte: the code page's lead bytes, whose next byte is never a
 * separator (NULL for none). Returns the count, or 0 unless the path is a plain local one: a
 * drive letter, a colon and a backslash, then names that are neither empty nor "." nor "..",
 * without "/" or ":" (a stream), and at most capacity folders. */
int FolderPrefixes(const char *path, int (*isLeadByte)(unsigned char), int *lengths, int capacity);

#ifdef __cplusplus
}
#endif

#endif
