/* The stopper's decisions from image names and file identities; see image_place.h. */
#include "image_place.h"

#include "start_choice.h"

/* The multiple UNC provider and its redirectors (SMB, WebDAV, Remote Desktop's; the first three as
 * families, which other makes' devices are named after), and the object manager's UNC links. */
static const char *const kNetworkPrefixes[] = {"\\Device\\Mup",
                                               "\\Device\\Lanman",
                                               "\\Device\\WebDav",
                                               "\\Device\\RdpDr\\",
                                               "\\Device\\TerminalServerRedirector\\",
                                               "\\??\\UNC\\",
                                               "\\DosDevices\\UNC\\",
                                               "\\\\"};

static char Folded(char c) {
    return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
}

/* The first count characters of prefix, all of them where count is -1. */
static int StartsWith(const char *text, const char *prefix, int count) {
    for (; *prefix && count != 0; text++, prefix++, count--) {
        if (Folded(*text) != Folded(*prefix)) {
            return 0;
        }
    }
    return 1;
}

int IsNetworkName(const char *name) {
    for (unsigned i = 0; i < sizeof kNetworkPrefixes / sizeof kNetworkPrefixes[0]; i++) {
        if (StartsWith(name, kNetworkPrefixes[i], -1)) {
            return 1;
        }
    }
    return 0;
}

/* "\Device\Name": two backslash-led parts, each non-empty, then the path's own backslash. */
int VolumeLength(const char *name) {
    int length = 0;
    for (int part = 0; part < 2; part++) {
        if (name[length] != '\\' || name[length + 1] == '\\' || name[length + 1] == '\0') {
            return 0;
        }
        for (length++; name[length] && name[length] != '\\'; length++) {
        }
    }
    return name[length] == '\\' ? length : 0;
}

ImagePlace PlaceOfImage(const char *image, const char *installed) {
    if (image == 0 || installed == 0 || image[0] != '\\') {
        return IMAGE_UNREADABLE;
    }
    if (IsNetworkName(image)) {
        return IMAGE_ON_NETWORK;
    }
    int volume = VolumeLength(installed);
    if (volume == 0 || IsNetworkName(installed) || VolumeLength(image) == 0) {
        return IMAGE_UNREADABLE;
    }
    if (VolumeLength(image) != volume || !StartsWith(image, installed, volume)) {
        return IMAGE_OTHER_VOLUME;
    }
    /* Each name begins with the other only where they are the same. */
    return StartsWith(image, installed, -1) && StartsWith(installed, image, -1) ? IMAGE_INSTALLED
                                                                                : IMAGE_SAME_VOLUME;
}

CandidateVerdict JudgeCandidate(const CandidateFacts *facts) {
    /* In the order of ImagePlace and of ImageOpening; the same volume asks for the identities. */
    static const CandidateVerdict kByPlace[] = {CANDIDATE_UNREADABLE, CANDIDATE_ON_NETWORK,
                                                CANDIDATE_OTHER_VOLUME, CANDIDATE_UNCOMPARED,
                                                CANDIDATE_END};
    static const CandidateVerdict kByOpening[] = {CANDIDATE_OPEN_AS_ITS_USER,
                                                  CANDIDATE_NOT_AS_ITS_USER, CANDIDATE_UNOPENED};
    ImagePlace place = IMAGE_UNREADABLE;
    for (int i = 0; i < INSTALLED_NAMES; i++) { /* the nearest from any of the installed names */
        ImagePlace here = PlaceOfImage(facts->image, facts->installed[i]);
        place = here > place ? here : place;
    }
    if (place != IMAGE_SAME_VOLUME || facts->installedIdentity == 0) {
        return kByPlace[place];
    }
    if (facts->opening != IMAGE_IDENTIFIED) {
        return kByOpening[facts->opening];
    }
    const FileIdentity *a = &facts->identity;
    const FileIdentity *b = facts->installedIdentity;
    int same =
        a->volume == b->volume && SameBytes(a->file, sizeof a->file, b->file, sizeof b->file);
    return same ? CANDIDATE_END : CANDIDATE_OTHER_FILE;
}

CandidateVerdict DecideCandidate(CandidateFacts *facts, const ImageOpener *opener,
                                 unsigned long *error) {
    CandidateVerdict verdict = JudgeCandidate(facts);
    *error = 0;
    if (verdict != CANDIDATE_OPEN_AS_ITS_USER) {
        return verdict;
    }
    *error = opener->actAsItsUser(opener->context);
    if (*error != 0) {
        facts->opening = IMAGE_NOT_AS_USER;
        return JudgeCandidate(facts);
    }
    *error = opener->readIdentity(opener->context, &facts->identity);
    opener->revert(opener->context);
    facts->opening = *error == 0 ? IMAGE_IDENTIFIED : IMAGE_OPEN_FAILED;
    return JudgeCandidate(facts);
}

void AwaitEnds(const EndWaiter *waiter, int count, unsigned int limitMs) {
    unsigned int start = waiter->now(waiter->context);
    for (int copy = 0; copy < count; copy++) {
        unsigned int spent = waiter->now(waiter->context) - start;
        unsigned int left = spent < limitMs ? limitMs - spent : 0;
        waiter->tell(waiter->context, copy, waiter->awaitEnd(waiter->context, copy, left));
    }
}

int EndedByWait(unsigned long answer) {
    return answer == 0; /* WAIT_OBJECT_0 */
}
