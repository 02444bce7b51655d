/* Whether a folder may hold SLOTWARD, which the all-users Startup shortcut starts everywhere: below
 * Program Files, where no user but administrators makes or renames anything (the long form, no
 * "." or ".."), each existing folder plain and owned by SYSTEM, Administrators, TrustedInstaller
 * or the installing administrator, since an owner may always rewrite its permissions. Plain C. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/* Of one folder, looked at by its name in the folder above, never through a link at its end. */
typedef struct FolderFacts {
    int exists;                 /* 0: it is still to be made, and so are those below it */
    int readable;               /* its entry was read */
    int isFolder;               /* a directory, not a file */
    int isLink;                 /* a reparse point: a link, a junction or a mounted volume */
    int longName;               /* the name given is the one it is listed under, not its 8.3 one */
    const unsigned char *owner; /* its owner's security identifier; NULL when unreadable */
} FolderFacts;

/* The caller's look at a folder: path holds its name, cut at length; answers into facts. */
typedef struct FolderLook {
    void *context;
    void (*look)(void *context, const char *path, int length, FolderFacts *facts);
    const unsigned char *installer; /* the installing administrator's identifier, or NULL */
} FolderLook;

typedef enum FolderVerdict {
    FOLDER_ACCEPTED,
    FOLDER_OUTSIDE,      /* not below Program Files, Program Files itself, or not a plain path */
    FOLDER_SHORT_NAME,   /* an existing folder named by its 8.3 name */
    FOLDER_UNREADABLE,   /* its owner could not be read */
    FOLDER_NOT_A_FOLDER, /* a file stands where a folder should */
    FOLDER_LINK,         /* a link, a junction or a mounted volume: it leads elsewhere */
    FOLDER_FOREIGN_OWNER /* owned by someone else, who may always change its permissions */
} FolderVerdict;

/* Looked at top down, each once the one above passed; *at: the length concerned (OUTSIDE: all). */
FolderVerdict JudgeFolder(const char *folder, const char *programFiles,
                          int (*isLeadByte)(unsigned char), const FolderLook *look, int *at);

#ifdef __cplusplus
}
#endif
