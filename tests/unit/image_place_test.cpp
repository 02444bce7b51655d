// The installer's stopper decides from image names alone whether it may open a running copy's
// file: only on the installed file's own volume, never on the network; a copy named as the
// installed file is ended without an open, and one on that volume under another name is opened
// only as its own user, its identity deciding.
#include "image_place.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char kInstalled[] = "\\Device\\HarddiskVolume2\\Program Files\\SLOTWARD\\slotward.exe";

struct PlaceCase {
    const char *name;
    const char *image;
    const char *installed;
    ImagePlace place;
};

const PlaceCase kPlaces[] = {
    {"InstalledFile", kInstalled, kInstalled, IMAGE_INSTALLED},
    {"InstalledFileOtherCase", "\\DEVICE\\harddiskvolume2\\PROGRAM FILES\\slotward\\SLOTWARD.EXE",
     kInstalled, IMAGE_INSTALLED},
    {"SameVolumeOtherFile", "\\Device\\HarddiskVolume2\\Users\\me\\slotward.exe", kInstalled,
     IMAGE_SAME_VOLUME},
    {"SameVolumeShortName", "\\Device\\HarddiskVolume2\\PROGRA~1\\SLOTWARD\\SLOTWARD.EXE",
     kInstalled, IMAGE_SAME_VOLUME},
    // A volume whose name starts like the installed one is another volume.
    {"VolumeNamePrefix", "\\Device\\HarddiskVolume22\\Program Files\\SLOTWARD\\slotward.exe",
     kInstalled, IMAGE_OTHER_VOLUME},
    {"OtherVolume", "\\Device\\HarddiskVolume3\\slotward.exe", kInstalled, IMAGE_OTHER_VOLUME},
    {"CdRom", "\\Device\\CdRom0\\slotward.exe", kInstalled, IMAGE_OTHER_VOLUME},
    {"ShareThroughMup", "\\Device\\Mup\\host\\share\\slotward.exe", kInstalled, IMAGE_ON_NETWORK},
    {"MupOtherCase", "\\device\\MUP\\host\\share\\slotward.exe", kInstalled, IMAGE_ON_NETWORK},
    {"SmbRedirector", "\\Device\\LanmanRedirector\\;Z:0000\\host\\share\\slotward.exe", kInstalled,
     IMAGE_ON_NETWORK},
    {"WebDav", "\\Device\\WebDavRedirector\\host@SSL\\DavWWWRoot\\slotward.exe", kInstalled,
     IMAGE_ON_NETWORK},
    {"RemoteDesktopDrive", "\\Device\\RdpDr\\;C:1\\tsclient\\C\\slotward.exe", kInstalled,
     IMAGE_ON_NETWORK},
    {"UncLink", "\\??\\UNC\\host\\share\\slotward.exe", kInstalled, IMAGE_ON_NETWORK},
    {"UncPath", "\\\\host\\share\\slotward.exe", kInstalled, IMAGE_ON_NETWORK},
    // A third party's redirector under a name of its own still says what it is.
    {"OtherRedirector", "\\Device\\MupVendorFs\\host\\slotward.exe", kInstalled, IMAGE_ON_NETWORK},
    {"NoName", "", kInstalled, IMAGE_UNREADABLE},
    {"NullName", nullptr, kInstalled, IMAGE_UNREADABLE},
    {"DriveLetterPath", "C:\\Program Files\\SLOTWARD\\slotward.exe", kInstalled, IMAGE_UNREADABLE},
    {"VolumeWithoutPath", "\\Device\\HarddiskVolume2", kInstalled, IMAGE_UNREADABLE},
    {"EmptyVolumePart", "\\\\Device\\slotward.exe", "\\\\Device\\x", IMAGE_ON_NETWORK},
    // Without the installed file's own name nothing can be placed; an installed file on a share
    // makes nothing there openable.
    {"InstalledUnknown", kInstalled, "", IMAGE_UNREADABLE},
    {"InstalledOnShare", "\\Device\\Mup\\host\\share\\slotward.exe",
     "\\Device\\Mup\\host\\share\\slotward.exe", IMAGE_ON_NETWORK},
    {"InstalledOnShareLocalCopy", kInstalled, "\\Device\\Mup\\host\\share\\slotward.exe",
     IMAGE_UNREADABLE},
};

class PlaceTest : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(PlaceTest, DecidesFromNamesAlone) {
    const PlaceCase &c = GetParam();
    EXPECT_EQ(PlaceOfImage(c.image, c.installed), c.place);
}

INSTANTIATE_TEST_SUITE_P(Images, PlaceTest, ::testing::ValuesIn(kPlaces),
                         [](const ::testing::TestParamInfo<PlaceCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(VolumeTest, TheDevicePartOfAName) {
    EXPECT_EQ(VolumeLength("\\Device\\HarddiskVolume2\\x.exe"), 23);
    EXPECT_EQ(VolumeLength("\\Device\\HarddiskVolume2"), 0);
    EXPECT_EQ(VolumeLength("\\Device\\\\x.exe"), 0);
    EXPECT_EQ(VolumeLength("C:\\x.exe"), 0);
}

// The installed file's names: by its drive letter, its own (a volume mounted in a folder of the
// letter's), and its 8.3 form.
const char kOwnName[] = "\\Device\\HarddiskVolume5\\SLOTWARD\\slotward.exe";
const char kShortName[] = "\\Device\\HarddiskVolume2\\PROGRA~1\\SLOTWARD\\SLOTWARD.EXE";
const char kHardLink[] = "\\Device\\HarddiskVolume2\\Users\\me\\other.exe";
const FileIdentity kInstalledId = {0x5EED, {1, 2, 3, 4}};
const FileIdentity kOtherFileId = {0x5EED, {1, 2, 3, 5}};
const FileIdentity kOtherVolumeId = {0x5EEE, {1, 2, 3, 4}};

struct CandidateCase {
    const char *name;
    const char *image;
    bool shortKnown;      // the installed file's 8.3 name was read
    bool installedKnown;  // the installed file's identity was read
    ImageOpening opening; // how far the candidate's image was opened
    FileIdentity identity;
    CandidateVerdict verdict;
};

const CandidateCase kCandidates[] = {
    // By name, nothing opened: the plain start of the installed program in any of its names.
    {"ByLetterName", kInstalled, true, true, IMAGE_NOT_OPENED, {}, CANDIDATE_END},
    {"ByOwnName", kOwnName, true, true, IMAGE_NOT_OPENED, {}, CANDIDATE_END},
    {"ByShortName", kShortName, true, true, IMAGE_NOT_OPENED, {}, CANDIDATE_END},
    {"ByShortNameOtherCase",
     "\\Device\\HarddiskVolume2\\progra~1\\slotward\\slotward.exe",
     true,
     true,
     IMAGE_NOT_OPENED,
     {},
     CANDIDATE_END},
    {"ByNameInstalledUnidentified", kInstalled, true, false, IMAGE_NOT_OPENED, {}, CANDIDATE_END},
    // Without the 8.3 name a start by it has to be opened.
    {"ShortNameUnknown", kShortName, false, true, IMAGE_NOT_OPENED, {}, CANDIDATE_OPEN_AS_ITS_USER},
    // On the installed volume by another name (a hard link, a copy): its identity decides.
    {"HardLinkNotYetOpened",
     kHardLink,
     true,
     true,
     IMAGE_NOT_OPENED,
     {},
     CANDIDATE_OPEN_AS_ITS_USER},
    {"HardLinkIdentified", kHardLink, true, true, IMAGE_IDENTIFIED, kInstalledId, CANDIDATE_END},
    {"CopyIdentified", kHardLink, true, true, IMAGE_IDENTIFIED, kOtherFileId, CANDIDATE_OTHER_FILE},
    {"SameIdOtherSerial", kHardLink, true, true, IMAGE_IDENTIFIED, kOtherVolumeId,
     CANDIDATE_OTHER_FILE},
    {"NotAsItsUser", kHardLink, true, true, IMAGE_NOT_AS_USER, {}, CANDIDATE_NOT_AS_ITS_USER},
    {"OpenFailed", kHardLink, true, true, IMAGE_OPEN_FAILED, {}, CANDIDATE_UNOPENED},
    {"InstalledUnidentified", kHardLink, true, false, IMAGE_NOT_OPENED, {}, CANDIDATE_UNCOMPARED},
    {"InstalledUnidentifiedOpened", kHardLink, true, false, IMAGE_IDENTIFIED, kInstalledId,
     CANDIDATE_UNCOMPARED},
    // Elsewhere the names decide alone, whatever identity anyone claims.
    {"OtherVolume", "\\Device\\HarddiskVolume3\\slotward.exe", true, true, IMAGE_IDENTIFIED,
     kInstalledId, CANDIDATE_OTHER_VOLUME},
    {"OnNetwork", "\\Device\\Mup\\host\\share\\slotward.exe", true, true, IMAGE_IDENTIFIED,
     kInstalledId, CANDIDATE_ON_NETWORK},
    {"NameUnreadable", "", true, true, IMAGE_IDENTIFIED, kInstalledId, CANDIDATE_UNREADABLE},
};

CandidateFacts FactsOf(const CandidateCase &c) {
    static const FileIdentity installed = kInstalledId;
    CandidateFacts facts = {};
    facts.image = c.image;
    facts.installed[0] = kOwnName;
    facts.installed[1] = kInstalled;
    facts.installed[2] = c.shortKnown ? kShortName : "";
    facts.installedIdentity = c.installedKnown ? &installed : nullptr;
    facts.opening = c.opening;
    facts.identity = c.identity;
    return facts;
}

class CandidateTest : public ::testing::TestWithParam<CandidateCase> {};

TEST_P(CandidateTest, NamesFirstThenIdentities) {
    const CandidateFacts facts = FactsOf(GetParam());
    EXPECT_EQ(JudgeCandidate(&facts), GetParam().verdict);
}

INSTANTIATE_TEST_SUITE_P(Candidates, CandidateTest, ::testing::ValuesIn(kCandidates),
                         [](const ::testing::TestParamInfo<CandidateCase> &info) {
                             return std::string(info.param.name);
                         });

// The opener the stopper hands over, watched: each call is noted, an open with whose rights.
struct Watch {
    unsigned long actError;
    unsigned long openError;
    FileIdentity identity;
    bool acting;
    std::vector<std::string> calls;
};

unsigned long WatchedAct(void *context) {
    Watch *watch = static_cast<Watch *>(context);
    watch->calls.push_back("act as its user");
    watch->acting = watch->actError == 0;
    return watch->actError;
}

unsigned long WatchedOpen(void *context, FileIdentity *identity) {
    Watch *watch = static_cast<Watch *>(context);
    watch->calls.push_back(watch->acting ? "open as its user" : "open as the system");
    *identity = watch->identity;
    return watch->openError;
}

void WatchedRevert(void *context) {
    Watch *watch = static_cast<Watch *>(context);
    watch->calls.push_back("revert");
    watch->acting = false;
}

struct OpenCase {
    const char *name;
    const char *image;
    bool installedKnown;
    unsigned long actError;
    unsigned long openError;
    FileIdentity identity;
    std::vector<std::string> calls;
    CandidateVerdict verdict;
    unsigned long error;
};

const std::vector<std::string> kOpened = {"act as its user", "open as its user", "revert"};

const OpenCase kOpens[] = {
    {"NamedAsInstalled", kInstalled, true, 0, 0, kInstalledId, {}, CANDIDATE_END, 0},
    {"NamedShort", kShortName, true, 0, 0, kInstalledId, {}, CANDIDATE_END, 0},
    {"OtherVolume",
     "\\Device\\CdRom0\\slotward.exe",
     true,
     0,
     0,
     kInstalledId,
     {},
     CANDIDATE_OTHER_VOLUME,
     0},
    {"OnNetwork",
     "\\Device\\Mup\\host\\s\\slotward.exe",
     true,
     0,
     0,
     kInstalledId,
     {},
     CANDIDATE_ON_NETWORK,
     0},
    {"Unreadable", "", true, 0, 0, kInstalledId, {}, CANDIDATE_UNREADABLE, 0},
    {"InstalledUnidentified", kHardLink, false, 0, 0, kInstalledId, {}, CANDIDATE_UNCOMPARED, 0},
    {"HardLink", kHardLink, true, 0, 0, kInstalledId, kOpened, CANDIDATE_END, 0},
    {"OtherFile", kHardLink, true, 0, 0, kOtherFileId, kOpened, CANDIDATE_OTHER_FILE, 0},
    {"OpenFails", kHardLink, true, 0, 3, kInstalledId, kOpened, CANDIDATE_UNOPENED, 3},
    // Without the candidate's token nothing is opened.
    {"NoToken",
     kHardLink,
     true,
     5,
     0,
     kInstalledId,
     {"act as its user"},
     CANDIDATE_NOT_AS_ITS_USER,
     5},
};

// Failures name the case, not its bytes.
void PrintTo(const CandidateCase &c, std::ostream *os) {
    *os << c.name;
}
void PrintTo(const OpenCase &c, std::ostream *os) {
    *os << c.name;
}

class OpenTest : public ::testing::TestWithParam<OpenCase> {};

TEST_P(OpenTest, OpensOnlyAsItsUserAndGivesTheTokenBack) {
    const OpenCase &c = GetParam();
    Watch watch = {c.actError, c.openError, c.identity, false, {}};
    const ImageOpener opener = {&watch, WatchedAct, WatchedOpen, WatchedRevert};
    CandidateCase facts = {
        c.name, c.image, true, c.installedKnown, IMAGE_NOT_OPENED, {}, CANDIDATE_UNREADABLE};
    CandidateFacts known = FactsOf(facts);
    unsigned long error = 99;
    EXPECT_EQ(DecideCandidate(&known, &opener, &error), c.verdict);
    EXPECT_EQ(watch.calls, c.calls);
    EXPECT_EQ(error, c.error);
    EXPECT_FALSE(watch.acting);
}

INSTANTIATE_TEST_SUITE_P(Opens, OpenTest, ::testing::ValuesIn(kOpens),
                         [](const ::testing::TestParamInfo<OpenCase> &info) {
                             return std::string(info.param.name);
                         });

// The copies ended in a pass, played on a clock of their own: each ends that many ms after the
// wait began, or never (kNever). A wait advances the clock to the copy's end or by all it was
// given.
const unsigned int kNever = 0xFFFFFFFF;

struct Ends {
    unsigned int clock;
    unsigned int start;
    std::vector<unsigned int> endsAt;
    std::vector<unsigned int> given;
    std::vector<int> told;
};

unsigned int PlayedNow(void *context) {
    return static_cast<Ends *>(context)->clock;
}

int PlayedAwait(void *context, int copy, unsigned int ms) {
    Ends *ends = static_cast<Ends *>(context);
    ends->given.push_back(ms);
    unsigned int elapsed = ends->clock - ends->start;
    unsigned int at = ends->endsAt[copy];
    if (at != kNever && at <= elapsed + ms) {
        ends->clock = ends->start + (at > elapsed ? at : elapsed);
        return 1;
    }
    ends->clock += ms;
    return 0;
}

void PlayedTell(void *context, int copy, int ended) {
    Ends *ends = static_cast<Ends *>(context);
    EXPECT_EQ(copy, static_cast<int>(ends->told.size()));
    ends->told.push_back(ended);
}

struct EndsCase {
    const char *name;
    unsigned int start; // the clock when the wait begins: it wraps as the system's does
    std::vector<unsigned int> endsAt;
    std::vector<unsigned int> given;
    std::vector<int> told;
};

const EndsCase kEnds[] = {
    {"AllAtOnce", 100, {0, 0, 0}, {5000, 5000, 5000}, {1, 1, 1}},
    // A slow copy takes its time from the others' one limit: the wait stays 5 s in all.
    {"SlowFirst", 100, {4000, 4500}, {5000, 1000}, {1, 1}},
    {"SlowFirstSecondTooLate", 100, {4000, 5200}, {5000, 1000}, {1, 0}},
    // A copy that never ends costs the limit once; one that has ended meanwhile still counts.
    {"NeverEndingFirst", 100, {kNever, 0}, {5000, 0}, {0, 1}},
    {"NeverEndingLast", 100, {0, kNever}, {5000, 5000}, {1, 0}},
    {"ClockWraps", 0xFFFFF000u, {3000, kNever}, {5000, 2000}, {1, 0}},
    {"NoCopies", 100, {}, {}, {}},
};

void PrintTo(const EndsCase &c, std::ostream *os) {
    *os << c.name;
}

class EndsTest : public ::testing::TestWithParam<EndsCase> {};

TEST_P(EndsTest, OneLimitForAll) {
    const EndsCase &c = GetParam();
    Ends ends = {c.start, c.start, c.endsAt, {}, {}};
    const EndWaiter waiter = {&ends, PlayedNow, PlayedAwait, PlayedTell};
    AwaitEnds(&waiter, static_cast<int>(c.endsAt.size()), 5000);
    EXPECT_EQ(ends.given, c.given);
    EXPECT_EQ(ends.told, c.told);
}

INSTANTIATE_TEST_SUITE_P(Waits, EndsTest, ::testing::ValuesIn(kEnds),
                         [](const ::testing::TestParamInfo<EndsCase> &info) {
                             return std::string(info.param.name);
                         });

// Only WAIT_OBJECT_0 says a copy has ended: a copy that outlived the limit is never logged "ended".
TEST(EndedByWaitTest, OnlyTheObjectsSignal) {
    EXPECT_TRUE(EndedByWait(0x00000000u));  // WAIT_OBJECT_0
    EXPECT_FALSE(EndedByWait(0x00000102u)); // WAIT_TIMEOUT
    EXPECT_FALSE(EndedByWait(0xFFFFFFFFu)); // WAIT_FAILED
    EXPECT_FALSE(EndedByWait(0x00000080u)); // WAIT_ABANDONED
}

} // namespace
