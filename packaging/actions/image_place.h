/* The stopper's decisions: whether a running program's image ("\Device\HarddiskVolume2\...") is the
 * installed program, from names before anything is opened, and only on the installed file's own
 * volume (on a share the computer's credentials would go to a host a user picked). Plain C. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

typedef enum ImagePlace {
    IMAGE_UNREADABLE,   /* no name, or not a system name: left alone */
    IMAGE_ON_NETWORK,   /* a redirector's (SMB, WebDAV, Remote Desktop's drives): left alone */
    IMAGE_OTHER_VOLUME, /* another disk or partition: another file, left alone */
    IMAGE_SAME_VOLUME,  /* may be the installed file by another name: its identity decides */
    IMAGE_INSTALLED     /* the installed file's own name */
} ImagePlace;

/* A network installed name makes every candidate unreadable. ASCII case is ignored, as by NTFS. */
ImagePlace PlaceOfImage(const char *image, const char *installed);

/* The length of "\Device\HarddiskVolume2" in "\Device\HarddiskVolume2\x.exe"; 0 for none. */
int VolumeLength(const char *name);
int IsNetworkName(const char *name);

/* Laid out as FILE_ID_INFO; a 64-bit file index takes the first half of file. */
typedef struct FileIdentity {
    unsigned long long volume;
    unsigned char file[16];
} FileIdentity;

/* Its own, its drive letter's (they differ where a volume is mounted in a folder), its 8.3's. */
#define INSTALLED_NAMES 3

/* Ordered from the farthest to the nearest: of several installed files, the nearest counts. */
typedef enum CandidateVerdict {
    CANDIDATE_UNREADABLE,       /* its name cannot be read: left alone */
    CANDIDATE_ON_NETWORK,       /* left alone, never opened */
    CANDIDATE_OTHER_VOLUME,     /* another file, left alone, never opened */
    CANDIDATE_UNCOMPARED,       /* the installed file's identity is unknown: left alone */
    CANDIDATE_NOT_AS_ITS_USER,  /* its user's rights could not be taken on: left alone, unopened */
    CANDIDATE_UNOPENED,         /* opened as its user, which failed: left alone */
    CANDIDATE_OTHER_FILE,       /* opened as its user: another file on the same volume */
    CANDIDATE_OPEN_AS_ITS_USER, /* the same volume by another name: read its identity first */
    CANDIDATE_END               /* the installed file, by name or by identity: ended */
} CandidateVerdict;

typedef enum ImageOpening {
    IMAGE_NOT_OPENED,  /* not tried yet */
    IMAGE_NOT_AS_USER, /* not tried: the candidate's token could not be taken on */
    IMAGE_OPEN_FAILED, /* tried as its user, and failed */
    IMAGE_IDENTIFIED   /* identity holds its file's identity */
} ImageOpening;

typedef struct CandidateFacts {
    const char *image;                      /* its system name, "" when unknown */
    const char *installed[INSTALLED_NAMES]; /* the installed file's, "" when unknown */
    const FileIdentity *installedIdentity;  /* NULL when unknown */
    ImageOpening opening;
    FileIdentity identity;
} CandidateFacts;

CandidateVerdict JudgeCandidate(const CandidateFacts *facts);

/* Each answers 0 or a Windows error code. */
typedef struct ImageOpener {
    void *context;
    unsigned long (*actAsItsUser)(void *context); /* the candidate's own token, for this thread */
    unsigned long (*readIdentity)(void *context, FileIdentity *identity);
    void (*revert)(void *context);
} ImageOpener;

/* Opens the image only as the candidate's own user: a link in its path leads where they may go. */
CandidateVerdict DecideCandidate(CandidateFacts *facts, const ImageOpener *opener,
                                 unsigned long *error);

/* One limit for all: a slow copy neither doubles the wait nor counts as ended past the limit. */
typedef struct EndWaiter {
    void *context;
    unsigned int (*now)(void *context);
    int (*awaitEnd)(void *context, int copy, unsigned int ms);
    void (*tell)(void *context, int copy, int ended);
} EndWaiter;

void AwaitEnds(const EndWaiter *waiter, int count, unsigned int limitMs);

/* Only WAIT_OBJECT_0 is an end: a timeout, a failure or an abandoned wait never reads as one. */
int EndedByWait(unsigned long answer);

#ifdef __cplusplus
}
#endif
