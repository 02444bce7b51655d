/* The stopper: ends the installed program's copies in every session, noting session and user
 * (sessions.h); its view of programs (image_name.c) by the system's names, for image_place.h. */
#pragma once

#include "image_place.h"
#include "sessions.h"

/* The installed file, and where the installation puts the new one when that is elsewhere. */
#define MAX_TARGETS 4
/* Before a target file whose folder failed the installer's check: it is known by name only. */
#define BY_NAME_MARK "/byname"

/* The first pass replaces the list; a later one adds to it (only to this installation's). */
void StopCopies(const char *data, BOOL addToList, BOOL ownListOnly, const char *owner);

/* The NT name's room: the volume's device name before a full path. */
#define NT_PATH 400

typedef struct Target {
    char path[MAX_PATH];
    char shortPath[MAX_PATH];               /* its 8.3 form; the path as given when it has none */
    char ntPaths[INSTALLED_NAMES][NT_PATH]; /* "" when unknown (image_place.h) */
    FileIdentity identity;
    BOOL identified;
} Target;

typedef struct Candidate {
    DWORD processId;
    HANDLE process;
    char modulePath[MAX_PATH]; /* as the process knows it, "" when unknown (Windows 2000 only) */
    char ntPath[NT_PATH];      /* "" when unknown */
} Candidate;

/* Before acting as another user, whose rights would look for a library loaded meanwhile. */
void ResolveImageCalls(void);

/* byName: its folder failed the check, and it is not opened. FALSE when not on a local volume. */
BOOL PrepareTarget(const char *path, BOOL byName, Target *target);

void ReadImageName(Candidate *candidate);

/* The image opened once at most; *error: that of a failed take-on or open, else 0. */
CandidateVerdict JudgeAgainstTargets(Candidate *candidate, const Target *targets, int count,
                                     DWORD *error);

/* Long or 8.3, in any case. */
BOOL NamedLikeTarget(const char *image, const Target *targets, int count);
