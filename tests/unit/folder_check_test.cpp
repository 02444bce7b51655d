// The installer refuses a folder that anyone but the system and administrators could replace:
// the verdict over a chain of folders, from their owners and access entries as Windows hands
// them over, and the split of a path into that chain.
#include "folder_check.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// A security identifier in its binary form, from its written one: S-1-authority-parts.
Bytes Sid(unsigned char authority, std::initializer_list<uint32_t> parts) {
    Bytes sid = {1, static_cast<unsigned char>(parts.size()), 0, 0, 0, 0, 0, authority};
    for (uint32_t part : parts) {
        for (int shift = 0; shift < 32; shift += 8) {
            sid.push_back(static_cast<unsigned char>(part >> shift));
        }
    }
    return sid;
}

const Bytes kSystem = Sid(5, {18});
const Bytes kAdministrators = Sid(5, {32, 544});
const Bytes kTrustedInstaller =
    Sid(5, {80, 956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u});
const Bytes kUsers = Sid(5, {32, 545});
const Bytes kAuthenticatedUsers = Sid(5, {11});
const Bytes kEveryone = Sid(1, {0});
const Bytes kCreatorOwner = Sid(3, {0});
const Bytes kCreatorGroup = Sid(3, {1});
const Bytes kOwnerRights = Sid(3, {4});
const Bytes kAppPackages = Sid(15, {2, 1});
const Bytes kPowerUsers = Sid(5, {32, 547});
const Bytes kInstaller = Sid(5, {21, 1, 2, 3, 1001});
const Bytes kOtherUser = Sid(5, {21, 1, 2, 3, 1002});
// Wine's user, who installs there.
const Bytes kWineUser = Sid(5, {21, 0, 0, 0, 1000});

// Entry kinds and flags, and the rights the system's tools show.
enum : unsigned char { kAllow = 0, kDeny = 1, kAllowObject = 5, kAllowCallback = 9 };
enum : unsigned char { OI = 1, CI = 2, NP = 4, IO = 8, INHERITED = 0x10 };
const uint32_t kFull = 0x1F01FF;
const uint32_t kModify = 0x1301BF;
const uint32_t kReadRun = 0x1200A9;
const uint32_t kAddSubfolder = 0x4;
const uint32_t kDelete = 0x10000;
const uint32_t kDeleteChild = 0x40;
const uint32_t kWriteDac = 0x40000;
const uint32_t kWriteOwner = 0x80000;
const uint32_t kGenericAll = 0x10000000;
const uint32_t kGenericWrite = 0x40000000;
// Wine's Everyone entry for a folder whose Unix mode lets others write.
const uint32_t kWineOthersWrite = 0x1301FF;

struct Entry {
    unsigned char kind;
    unsigned char flags;
    uint32_t rights;
    const Bytes *who;
};

// An access list in its binary form: revision 2, then each entry's header, rights and SID.
Bytes Acl(const std::vector<Entry> &entries) {
    Bytes acl = {2, 0, 0, 0, static_cast<unsigned char>(entries.size()), 0, 0, 0};
    for (const Entry &e : entries) {
        size_t size = 8 + e.who->size();
        acl.insert(acl.end(), {e.kind, e.flags, static_cast<unsigned char>(size), 0});
        for (int shift = 0; shift < 32; shift += 8) {
            acl.push_back(static_cast<unsigned char>(e.rights >> shift));
        }
        acl.insert(acl.end(), e.who->begin(), e.who->end());
    }
    acl[2] = static_cast<unsigned char>(acl.size());
    acl[3] = static_cast<unsigned char>(acl.size() >> 8);
    return acl;
}

enum Shape { kFolder, kNullDacl, kUnreadable, kLink, kFile };

struct Folder {
    const Bytes *owner;
    std::vector<Entry> entries;
    Shape shape = kFolder;
};

// Windows' own: C:\ and Program Files, as a fresh Windows 10 sets them.
const Folder kSystemRoot = {&kTrustedInstaller,
                            {{kAllow, OI | CI, kFull, &kAdministrators},
                             {kAllow, OI | CI, kFull, &kSystem},
                             {kAllow, OI | CI, kReadRun, &kUsers},
                             {kAllow, OI | CI | IO, kModify, &kAuthenticatedUsers},
                             {kAllow, 0, kAddSubfolder, &kAuthenticatedUsers}}};
const Folder kProgramFiles = {&kTrustedInstaller,
                              {{kAllow, CI, kFull, &kTrustedInstaller},
                               {kAllow, 0, kModify, &kSystem},
                               {kAllow, OI | CI | IO, kGenericAll, &kSystem},
                               {kAllow, 0, kModify, &kAdministrators},
                               {kAllow, OI | CI | IO, kGenericAll, &kAdministrators},
                               {kAllow, OI | CI, kReadRun, &kUsers},
                               {kAllow, OI | CI | IO, kGenericAll, &kCreatorOwner},
                               {kAllow, OI | CI, kReadRun, &kAppPackages}}};
// Program Files on Windows 2000 and XP: Power Users may modify it.
const Folder kProgramFilesXp = {&kAdministrators,
                                {{kAllow, OI | CI, kFull, &kAdministrators},
                                 {kAllow, OI | CI | IO, kFull, &kCreatorOwner},
                                 {kAllow, OI | CI, kModify, &kPowerUsers},
                                 {kAllow, OI | CI, kFull, &kSystem},
                                 {kAllow, OI | CI, kReadRun, &kUsers}}};
// The installed folder with the installer's lock.
const Folder kLocked = {&kAdministrators,
                        {{kAllow, OI | CI, kGenericAll, &kAdministrators},
                         {kAllow, OI | CI, kReadRun, &kUsers},
                         {kAllow, OI | CI, kFull, &kSystem}}};
// A data volume's root: Authenticated Users may modify everything on it.
const Folder kDataRoot = {&kAdministrators,
                          {{kAllow, OI | CI, kFull, &kAdministrators},
                           {kAllow, OI | CI, kFull, &kSystem},
                           {kAllow, OI | CI, kModify, &kAuthenticatedUsers},
                           {kAllow, OI | CI, kReadRun, &kUsers}}};
// A folder an administrator made on it, with what the root handed down.
const Folder kDataTools = {&kAdministrators,
                           {{kAllow, OI | CI | INHERITED, kFull, &kAdministrators},
                            {kAllow, OI | CI | INHERITED, kModify, &kAuthenticatedUsers}}};

Folder AdminFolder(std::vector<Entry> extra, const Bytes *owner = &kAdministrators) {
    Folder folder = {owner, {{kAllow, OI | CI, kFull, &kAdministrators}}};
    folder.entries.insert(folder.entries.end(), extra.begin(), extra.end());
    return folder;
}

Folder Shaped(Shape shape) {
    Folder folder = AdminFolder({});
    folder.shape = shape;
    return folder;
}

// Wine builds every folder's list from its Unix mode: its user owns it.
Folder WineFolder(uint32_t others) {
    return {&kWineUser,
            {{kAllow, OI | CI, kFull, &kSystem},
             {kAllow, OI | CI, kFull, &kWineUser},
             {kAllow, OI | CI, others, &kEveryone}}};
}

struct ChainCase {
    const char *name;
    std::vector<Folder> folders;
    int toBeMade;
    FolderVerdict verdict;
    int at;
    const Bytes *installer = &kInstaller;
    bool fixed = true;
    bool permissions = true;
};

const ChainCase kChains[] = {
    {"DefaultFolderToBeMade", {kSystemRoot, kProgramFiles}, 1, FOLDER_ACCEPTED, 1},
    {"DefaultFolderOnWindowsXp", {kSystemRoot, kProgramFilesXp}, 1, FOLDER_ACCEPTED, 1},
    {"DefaultFolderInstalled", {kSystemRoot, kProgramFiles, kLocked}, 0, FOLDER_ACCEPTED, 2},
    {"DefaultFolderNotAdministrator",
     {kSystemRoot, kProgramFiles, kLocked},
     0,
     FOLDER_ACCEPTED,
     2,
     nullptr},
    // C:\Tools\SLOTWARD: C:\Tools would get the root's Modify for Authenticated Users.
    {"NewFolderUnderSystemRoot", {kSystemRoot}, 2, FOLDER_HANDS_DOWN_OPEN, 0},
    // The root of a volume cannot be deleted or renamed: its Modify costs nothing there, but
    // every folder made below it inherits it.
    {"NewFolderOnDataVolume", {kDataRoot}, 2, FOLDER_HANDS_DOWN_OPEN, 0},
    {"AdministratorsFolderOnDataVolume", {kDataRoot, kDataTools}, 1, FOLDER_OPEN, 1},
    {"PreMadeFolderOwnedByUser",
     {kSystemRoot, AdminFolder({{kAllow, OI | CI, kFull, &kSystem}}, &kOtherUser)},
     1,
     FOLDER_FOREIGN_OWNER,
     1},
    {"OwnedByInstallingAdministrator",
     {kSystemRoot, AdminFolder({}, &kInstaller)},
     1,
     FOLDER_ACCEPTED,
     1},
    {"OwnedByInstallerWhoIsNoAdministrator",
     {kSystemRoot, AdminFolder({}, &kInstaller)},
     1,
     FOLDER_FOREIGN_OWNER,
     1,
     nullptr},
    {"OwnedBySystem", {kSystemRoot, AdminFolder({}, &kSystem)}, 0, FOLDER_ACCEPTED, 1},
    {"AncestorLetsUsersDeleteChildren",
     {kSystemRoot, AdminFolder({{kAllow, OI | CI, kReadRun | kDeleteChild, &kUsers}}),
      AdminFolder({})},
     1,
     FOLDER_CHILDREN_OPEN,
     1},
    {"RootLetsUsersDeleteChildren",
     {AdminFolder({{kAllow, 0, kReadRun | kDeleteChild, &kEveryone}}), AdminFolder({})},
     0,
     FOLDER_CHILDREN_OPEN,
     0},
    {"UsersMayDelete",
     {kSystemRoot, AdminFolder({{kAllow, 0, kReadRun | kDelete, &kUsers}})},
     0,
     FOLDER_OPEN,
     1},
    {"UsersMayChangePermissions",
     {kSystemRoot, AdminFolder({{kAllow, 0, kReadRun | kWriteDac, &kUsers}})},
     0,
     FOLDER_OPEN,
     1},
    {"UsersMayTakeOwnership",
     {kSystemRoot, AdminFolder({{kAllow, 0, kWriteOwner, &kAuthenticatedUsers}})},
     0,
     FOLDER_OPEN,
     1},
    {"GenericAllForUsers",
     {kSystemRoot, AdminFolder({{kAllow, 0, kGenericAll, &kUsers}})},
     0,
     FOLDER_OPEN,
     1},
    // Writing into a folder lets nobody delete or rename it.
    {"GenericWriteForUsers",
     {kSystemRoot, AdminFolder({{kAllow, 0, kGenericWrite, &kUsers}})},
     0,
     FOLDER_ACCEPTED,
     1},
    {"InheritOnlyForFilesDoesNotApply",
     {kSystemRoot, AdminFolder({{kAllow, OI | IO, kModify, &kUsers}})},
     1,
     FOLDER_ACCEPTED,
     1},
    {"InheritOnlyForFoldersHandsDown",
     {kSystemRoot, AdminFolder({{kAllow, CI | IO, kDelete, &kUsers}})},
     1,
     FOLDER_HANDS_DOWN_OPEN,
     1},
    {"NoPropagationStillReachesTheFirstFolderMade",
     {kSystemRoot, AdminFolder({{kAllow, CI | NP | IO, kDeleteChild, &kUsers}})},
     1,
     FOLDER_HANDS_DOWN_OPEN,
     1},
    {"CreatorOwnerHandsDownToTheInstaller",
     {kSystemRoot, AdminFolder({{kAllow, OI | CI | IO, kGenericAll, &kCreatorOwner}})},
     1,
     FOLDER_ACCEPTED,
     1},
    {"CreatorGroupHandsDownToOthers",
     {kSystemRoot, AdminFolder({{kAllow, OI | CI | IO, kGenericAll, &kCreatorGroup}})},
     1,
     FOLDER_HANDS_DOWN_OPEN,
     1},
    // OWNER RIGHTS stands for the owner, one of the trusted.
    {"OwnerRightsGoToTheOwner",
     {kSystemRoot, AdminFolder({{kAllow, 0, kFull, &kOwnerRights}})},
     0,
     FOLDER_ACCEPTED,
     1},
    {"DenyDoesNotHideAGrant",
     {kSystemRoot,
      AdminFolder({{kDeny, 0, kDelete, &kEveryone}, {kAllow, 0, kReadRun | kDelete, &kUsers}})},
     0,
     FOLDER_OPEN,
     1},
    {"DenyAloneGrantsNothing",
     {kSystemRoot, AdminFolder({{kDeny, 0, kFull, &kUsers}})},
     0,
     FOLDER_ACCEPTED,
     1},
    {"ConditionalGrantCounts",
     {kSystemRoot, AdminFolder({{kAllowCallback, 0, kDelete, &kUsers}})},
     0,
     FOLDER_OPEN,
     1},
    {"EntryOfUnknownKind",
     {kSystemRoot, AdminFolder({{kAllowObject, 0, kReadRun, &kUsers}})},
     0,
     FOLDER_UNKNOWN_ENTRY,
     1},
    {"NoAccessListAtAll", {kSystemRoot, Shaped(kNullDacl)}, 0, FOLDER_OPEN, 1},
    {"EmptyAccessList", {kSystemRoot, {&kAdministrators, {}}}, 0, FOLDER_ACCEPTED, 1},
    {"UnreadableAncestor", {kSystemRoot, Shaped(kUnreadable), kLocked}, 0, FOLDER_UNREADABLE, 1},
    {"LinkInTheChain", {kSystemRoot, Shaped(kLink), kLocked}, 0, FOLDER_LINK, 1},
    {"FileInTheChain", {kSystemRoot, Shaped(kFile)}, 1, FOLDER_NOT_A_FOLDER, 1},
    {"NothingFound", {}, 2, FOLDER_UNREADABLE, 0},
    {"FatVolume",
     {kSystemRoot, kProgramFiles},
     1,
     FOLDER_NO_PERMISSIONS,
     0,
     &kInstaller,
     true,
     false},
    {"RemovableOrShare", {kSystemRoot, kProgramFiles}, 1, FOLDER_NOT_FIXED, 0, &kInstaller, false},
    // Under Wine: a folder of mode 0755 lets others read and run, one of 0777 lets them write,
    // delete and delete children.
    {"WineFolderOthersRead",
     {WineFolder(kReadRun), WineFolder(kReadRun)},
     1,
     FOLDER_ACCEPTED,
     1,
     &kWineUser},
    {"WineFolderOthersWrite",
     {WineFolder(kReadRun), WineFolder(kWineOthersWrite)},
     1,
     FOLDER_OPEN,
     1,
     &kWineUser},
};

class ChainTest : public ::testing::TestWithParam<ChainCase> {};

TEST_P(ChainTest, JudgesEveryFolderAndWhatIsHandedDown) {
    const ChainCase &c = GetParam();
    std::vector<Bytes> acls;
    for (const Folder &f : c.folders) {
        acls.push_back(Acl(f.entries));
    }
    std::vector<FolderFacts> facts;
    for (size_t i = 0; i < c.folders.size(); i++) {
        Shape shape = c.folders[i].shape;
        facts.push_back({shape != kUnreadable, shape != kFile, shape == kLink,
                         c.folders[i].owner->data(),
                         shape == kNullDacl ? nullptr : acls[i].data()});
    }
    FolderChain chain = {c.fixed,
                         c.permissions,
                         c.installer != nullptr ? c.installer->data() : nullptr,
                         facts.data(),
                         static_cast<int>(facts.size()),
                         c.toBeMade};
    int at = -1;
    EXPECT_EQ(JudgeFolderChain(&chain, &at), c.verdict);
    EXPECT_EQ(at, c.at);
}

INSTANTIATE_TEST_SUITE_P(Folders, ChainTest, ::testing::ValuesIn(kChains),
                         [](const ::testing::TestParamInfo<ChainCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(ChainBytesTest, EntryThatOverrunsItsListIsUnknown) {
    Bytes acl = Acl({{kAllow, 0, kReadRun, &kUsers}});
    acl[8 + 2] = 200; // the entry claims more bytes than the list holds
    FolderFacts folders[] = {{1, 1, 0, kAdministrators.data(), acl.data()}};
    FolderChain chain = {1, 1, nullptr, folders, 1, 0};
    int at = -1;
    EXPECT_EQ(JudgeFolderChain(&chain, &at), FOLDER_UNKNOWN_ENTRY);
}

struct PathCase {
    const char *name;
    const char *path;
    std::vector<int> lengths; // empty: refused
};

const PathCase kPaths[] = {
    {"Root", "C:\\", {3}},
    {"DefaultFolder", "C:\\Program Files\\SLOTWARD\\", {3, 16, 25}},
    {"WithoutFinalBackslash", "d:\\Tools\\SLOTWARD", {3, 8, 17}},
    {"Share", "\\\\host\\share\\SLOTWARD", {}},
    {"DevicePath", "\\\\?\\C:\\SLOTWARD", {}},
    {"DriveRelative", "C:SLOTWARD", {}},
    {"NoLetter", "1:\\SLOTWARD", {}},
    {"EmptyName", "C:\\Tools\\\\SLOTWARD", {}},
    {"Parent", "C:\\Program Files\\..\\Users\\SLOTWARD", {}},
    {"Current", "C:\\.\\SLOTWARD", {}},
    {"Slash", "C:\\Tools/SLOTWARD", {}},
    {"Stream", "C:\\Tools\\SLOTWARD:x", {}},
    {"Empty", "", {}},
    // Shift-JIS: 0x83 0x5C is one character, whose second byte is not a separator.
    {"DoubleByteName", "C:\\\x83\\\\b", {3, 5, 7}},
};

int IsShiftJisLead(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

class PathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(PathTest, SplitsIntoFoldersFromTheRoot) {
    const PathCase &c = GetParam();
    int lengths[8] = {};
    int count = FolderPrefixes(c.path, IsShiftJisLead, lengths, 8);
    EXPECT_EQ(std::vector<int>(lengths, lengths + count), c.lengths);
}

INSTANTIATE_TEST_SUITE_P(FolderPaths, PathTest, ::testing::ValuesIn(kPaths),
                         [](const ::testing::TestParamInfo<PathCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(PathSplitTest, RefusesWhatItCannotSplit) {
    int lengths[2] = {};
    EXPECT_EQ(FolderPrefixes(nullptr, nullptr, lengths, 2), 0);
    // Without the code page's lead bytes the second byte ends a name, and the next is empty.
    EXPECT_EQ(FolderPrefixes("C:\\\x83\\\\b", nullptr, lengths, 2), 0);
    // More folders than the caller has room for.
    EXPECT_EQ(FolderPrefixes("C:\\a\\b", nullptr, lengths, 2), 0);
}

} // namespace
