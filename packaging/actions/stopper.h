/* The stopper: ends the running copies of the installed program in every session and notes the
 * session and user of each (sessions.h); and its view of programs (image_name.c): the installed
 * files it looks for and a running copy's image, named as the system keeps them, the image opened
 * only while acting as the copy's own user; image_place.h decides. An installed file is opened as
 * LocalSystem only where its folder passed the installer's check; one in a refused folder is
 * known by its names alone. */
#pragma once

#include "image_place.h"
#include "sessions.h"

/* The installed file, and where the installation puts the new one when that is elsewhere. */
#define MAX_TARGETS 4

/* Before a target file whose folder failed the installer's check: it is known by name only. */
#define BY_NAME_MARK "/byname"

/* data: the target files, each quoted, BY_NAME_MARK before one. The first pass of an
 * installation replaces the list; a later one (addToList) adds the copies it ended to it, only to
 * the list of this installation where ownListOnly (a key the first pass refused is another's).
 * owner: the installation's ProductCode. */
void StopCopies(const char *data, BOOL addToList, BOOL ownListOnly, const char *owner);

/* The NT name's room: the volume's device name before a full path. */
#define NT_PATH 400

typedef struct Target {
    char path[MAX_PATH];
    char shortPath[MAX_PATH]; /* its 8.3 form; the path as given when it has none */
    /* The system's names for it, "" when unknown: the file's own (its volume, however it was
     * reached), its drive letter's device followed by the path, and the same for its 8.3 form.
     * The first two differ where a volume is mounted in a folder of another. */
    char ntPaths[INSTALLED_NAMES][NT_PATH];
    FileIdentity identity;
    BOOL identified;
} Target;

typedef struct Candidate {
    DWORD processId;
    HANDLE process;
    /* As the process knows it, "" when unknown: read from its memory, which it may have
     * rewritten, so only where Windows keeps no image name (Windows 2000). */
    char modulePath[MAX_PATH];
    char ntPath[NT_PATH]; /* "" when unknown */
} Candidate;

/* Looks up the system's functions this file calls, once, before any thread acts as another
 * user: a library loaded meanwhile would be looked for with that user's rights. */
void ResolveImageCalls(void);

/* The target's names and identity; byName: its folder failed the check, and nothing of it is
 * opened or asked of the disk. FALSE when it is not on a local volume. */
BOOL PrepareTarget(const char *path, BOOL byName, Target *target);

/* The image's system name, as the system keeps it for the process. */
void ReadImageName(Candidate *candidate);

/* The nearest verdict over all targets, the image opened once at most; *error: the error of a
 * failed take-on or open, else 0. */
CandidateVerdict JudgeAgainstTargets(Candidate *candidate, const Target *targets, int count,
                                     DWORD *error);

/* Whether the image's file name (long or 8.3, any case) is one of the targets'. */
BOOL NamedLikeTarget(const char *image, const Target *targets, int count);
