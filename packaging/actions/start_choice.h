/* The starter's decisions: which token starts SLOTWARD in a noted session (the ended copy's user's
 * ordinary one, never elevated), and what the list of sessions becomes. Plain C, for tests. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/* More sessions than a terminal server holds at once; a copy beyond them is still ended. */
#define MAX_SESSIONS 64
/* SECURITY_MAX_SID_SIZE: the longest security identifier there is. */
#define SID_BYTES 68

/* Kept in the registry as it is laid out here. */
typedef struct EndedCopy {
    unsigned int session;
    unsigned int sidLength; /* 0: the user could not be told, and no copy is started for it */
    unsigned char sid[SID_BYTES];
} EndedCopy;

typedef struct SessionList {
    unsigned int count;
    EndedCopy copies[MAX_SESSIONS];
} SessionList;

int SameBytes(const unsigned char *a, unsigned aLength, const unsigned char *b, unsigned bLength);

/* Once per user and session (runas copies have users of their own); 0 when noted or full. */
int AddCopy(SessionList *list, unsigned int session, const unsigned char *sid,
            unsigned int sidLength);
/* The session's copy of that user, or of anyone where sid is NULL. */
const EndedCopy *FindCopy(const SessionList *list, unsigned int session, const unsigned char *sid,
                          unsigned int sidLength);
/* The rest keep their order. */
void RemoveCopy(SessionList *list, const EndedCopy *copy);

/* TOKEN_ELEVATION_TYPE's values, and none where the system has no such class (before Vista). */
typedef enum Elevation {
    ELEVATION_UNKNOWN = 0,
    ELEVATION_DEFAULT = 1, /* UAC off, a standard user, or the built-in Administrator */
    ELEVATION_FULL = 2,    /* the elevated half of an administrator's split token */
    ELEVATION_LIMITED = 3  /* the ordinary half of it */
} Elevation;

typedef struct TokenFacts {
    const unsigned char *user; /* its user's SID */
    unsigned userLength;       /* 0: its user could not be read */
    Elevation elevation;
    int hasLinked; /* Windows handed out the other half of a split token */
} TokenFacts;

typedef enum StartChoice {
    START_WITH_TOKEN,       /* the token as it is */
    START_WITH_LINKED,      /* the ordinary half beside an elevated one */
    REFUSE_UNKNOWN_NOTED,   /* the ended copy's user was not told: nobody's to start */
    REFUSE_USER_UNREADABLE, /* the token's user could not be read */
    REFUSE_OTHER_USER,      /* another user holds the session now */
    REFUSE_NO_ORDINARY,     /* elevated, and Windows gave no ordinary token beside it */
    REFUSE_OWN_UNREADABLE,  /* the installing user's own token could not be read */
    REFUSE_NOT_ENDED_USER,  /* the installing user is not the one whose copy was ended */
    REFUSE_ELEVATED         /* the installing user's own token is elevated */
} StartChoice;

/* The system's starter: the token of the user signed in to the noted session now. */
StartChoice ChooseSessionStart(const unsigned char *noted, unsigned notedLength,
                               const TokenFacts *session);

/* The installing user's token: elevated, refused, since CreateProcess starts with it as it is. */
StartChoice ChooseOwnStart(const unsigned char *noted, unsigned notedLength, const TokenFacts *own);

/* NULL for a start. */
const char *RefusalReason(StartChoice choice);

/* Served, or held by another user now; one refused for want of facts stays for the fallback. */
int LeavesList(StartChoice choice, int started);

typedef enum ListStep {
    STEP_FIRST_PASS, /* the stopper's first pass */
    STEP_LATER_PASS, /* its later pass, and an uninstallation's (which may be an upgrade's) */
    STEP_START,      /* the starter, with a program to start */
    STEP_NO_PROGRAM  /* the starter of an uninstallation */
} ListStep;

typedef struct ListFacts {
    ListStep step;
    int listed;      /* a list was there */
    int owned;       /* it belongs to this installation */
    unsigned before; /* its sessions when the step began (after the first pass's fresh start) */
    unsigned after;  /* its sessions when the step ends: added by a pass, left by a start */
    int startable;   /* the starter had its program and options whole, and a way to start */
} ListFacts;

typedef enum ListFate {
    LIST_UNCHANGED, /* nothing written: left to the next step or the installation it is part of */
    LIST_AFRESH,    /* written with this installation as its owner */
    LIST_UPDATED,   /* written, its owner kept */
    LIST_FORGOTTEN  /* removed */
} ListFate;

ListFate FateOfList(const ListFacts *facts);

#ifdef __cplusplus
}
#endif
