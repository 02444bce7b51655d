/* The starter's decisions from plain facts; see start_choice.h. */
#include "start_choice.h"

int SameBytes(const unsigned char *a, unsigned aLength, const unsigned char *b, unsigned bLength) {
    unsigned same = 0;
    while (aLength == bLength && same < aLength && a[same] == b[same]) {
        same++;
    }
    return aLength == bLength && same == aLength;
}

/* Who: the noted user must be known, the token's readable, and the two the same. */
static StartChoice UserCheck(const unsigned char *noted, unsigned notedLength,
                             const TokenFacts *token) {
    if (notedLength == 0) {
        return REFUSE_UNKNOWN_NOTED;
    }
    if (token->userLength == 0) {
        return REFUSE_USER_UNREADABLE;
    }
    if (!SameBytes(noted, notedLength, token->user, token->userLength)) {
        return REFUSE_OTHER_USER;
    }
    return START_WITH_TOKEN;
}

StartChoice ChooseSessionStart(const unsigned char *noted, unsigned notedLength,
                               const TokenFacts *session) {
    StartChoice who = UserCheck(noted, notedLength, session);
    if (who != START_WITH_TOKEN || session->elevation != ELEVATION_FULL) {
        return who;
    }
    return session->hasLinked ? START_WITH_LINKED : REFUSE_NO_ORDINARY;
}

StartChoice ChooseOwnStart(const unsigned char *noted, unsigned notedLength,
                           const TokenFacts *own) {
    StartChoice who = UserCheck(noted, notedLength, own);
    if (who == REFUSE_USER_UNREADABLE) {
        return REFUSE_OWN_UNREADABLE;
    }
    if (who == REFUSE_OTHER_USER) {
        return REFUSE_NOT_ENDED_USER;
    }
    if (who != START_WITH_TOKEN) {
        return who;
    }
    return own->elevation == ELEVATION_FULL ? REFUSE_ELEVATED : START_WITH_TOKEN;
}

const char *RefusalReason(StartChoice choice) {
    /* In the order of StartChoice. */
    static const char *const kReasons[] = {
        [REFUSE_UNKNOWN_NOTED] = "the user of its ended copy is not known",
        "its user could not be read",
        "another user is signed in there now",
        "its user's token is elevated and Windows gave no ordinary one beside it",
        "the installation's own token cannot be read",
        "the installation runs as another user than the one whose copy was ended",
        "the installation runs elevated",
    };
    return kReasons[choice];
}

int LeavesList(StartChoice choice, int started) {
    return started || choice == REFUSE_OTHER_USER || choice == REFUSE_UNKNOWN_NOTED;
}

ListFate FateOfList(const ListFacts *facts) {
    switch (facts->step) {
    case STEP_FIRST_PASS:
        return LIST_AFRESH; /* even empty: one an interrupted installation left is not this one's */
    case STEP_LATER_PASS:
        if (!facts->listed) {
            return LIST_AFRESH;
        }
        return facts->after != facts->before ? LIST_UPDATED : LIST_UNCHANGED;
    case STEP_START:
        if (!facts->listed || !facts->startable) {
            return LIST_UNCHANGED;
        }
        if (facts->after == 0) {
            return LIST_FORGOTTEN;
        }
        return facts->after != facts->before ? LIST_UPDATED : LIST_UNCHANGED;
    default: /* an upgrade's removal of the old version leaves the list to the upgrade */
        return facts->listed && facts->owned ? LIST_FORGOTTEN : LIST_UNCHANGED;
    }
}

int AddCopy(SessionList *list, unsigned int session, const unsigned char *sid,
            unsigned int sidLength) {
    if (sidLength > SID_BYTES) {
        sidLength = 0;
    }
    if (FindCopy(list, session, sid, sidLength) != 0 || list->count >= MAX_SESSIONS) {
        return 0;
    }
    EndedCopy *copy = &list->copies[list->count++];
    copy->session = session;
    copy->sidLength = sidLength;
    for (unsigned i = 0; i < sidLength; i++) {
        copy->sid[i] = sid[i];
    }
    return 1;
}

const EndedCopy *FindCopy(const SessionList *list, unsigned int session, const unsigned char *sid,
                          unsigned int sidLength) {
    for (unsigned i = 0; i < list->count; i++) {
        const EndedCopy *copy = &list->copies[i];
        if (copy->session == session &&
            (sid == 0 || SameBytes(copy->sid, copy->sidLength, sid, sidLength))) {
            return copy;
        }
    }
    return 0;
}

void RemoveCopy(SessionList *list, const EndedCopy *copy) {
    unsigned at = (unsigned)(copy - list->copies);
    for (unsigned i = at; i + 1 < list->count; i++) {
        list->copies[i] = list->copies[i + 1];
    }
    list->count--;
}
