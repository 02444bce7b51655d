// The installer accepts only a folder below Windows' Program Files folder, where no user but
// administrators may make or rename anything: the path's rule, then what the existing folders
// below Program Files are, each looked at only once the one above it has passed.
#include "folder_check.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

const Bytes kSystem = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
const Bytes kAdministrators = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
const Bytes kPowerUsers = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x23, 2, 0, 0};
const Bytes kUser = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0,    0, 1, 0,
                     0, 0, 2, 0, 0, 0, 3, 0, 0,  0, 0xE9, 3, 0, 0};
// Wine's user, the administrator who installs there.
const Bytes kWineUser = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0,    0, 0, 0,
                         0, 0, 0, 0, 0, 0, 0, 0, 0,  0, 0xE8, 3, 0, 0};

const char kProgramFiles[] = "C:\\Program Files\\";
const char kProgramFilesX86[] = "C:\\Program Files (x86)\\";

// What a look finds of a folder that exists.
enum Shape { kPlain, kLink, kFile, kShortName, kUnreadable, kOwnerUnreadable };

struct Existing {
    Shape shape;
    const Bytes *owner;
};

// The folders that exist, by their path as given; every look is recorded.
struct Disk {
    std::map<std::string, Existing> folders;
    std::vector<std::string> looked;
};

void LookAt(void *context, const char *path, int length, FolderFacts *facts) {
    Disk *disk = static_cast<Disk *>(context);
    std::string name(path, static_cast<size_t>(length));
    disk->looked.push_back(name);
    auto found = disk->folders.find(name);
    if (found == disk->folders.end()) {
        return;
    }
    const Existing &e = found->second;
    facts->exists = 1;
    facts->readable = e.shape != kUnreadable;
    facts->isFolder = e.shape != kFile;
    facts->isLink = e.shape == kLink;
    facts->longName = e.shape != kShortName;
    facts->owner = e.shape == kOwnerUnreadable ? nullptr : e.owner->data();
}

struct FolderCase {
    const char *name;
    const char *folder;
    const char *programFiles;
    std::map<std::string, Existing> existing;
    FolderVerdict verdict;
    int at; // the length of the folder concerned
    std::vector<std::string> looked;
    const Bytes *installer = nullptr;
};

const std::string kTools = "C:\\Program Files\\Tools";
const std::string kDefault = "C:\\Program Files\\SLOTWARD";

const FolderCase kFolders[] = {
    // The default folder, new or installed; a folder of the administrator's choice.
    {"DefaultFolderNew",
     "C:\\Program Files\\SLOTWARD\\",
     kProgramFiles,
     {},
     FOLDER_ACCEPTED,
     25,
     {kDefault}},
    {"DefaultFolderInstalled",
     "C:\\Program Files\\SLOTWARD\\",
     kProgramFiles,
     {{kDefault, {kPlain, &kAdministrators}}},
     FOLDER_ACCEPTED,
     25,
     {kDefault}},
    {"ToolsOwnedBySystem",
     "C:\\Program Files\\Tools\\SLOTWARD",
     kProgramFiles,
     {{kTools, {kPlain, &kSystem}}},
     FOLDER_ACCEPTED,
     31,
     {kTools, kTools + "\\SLOTWARD"}},
    {"X86FolderAnyCase",
     "c:\\program files (x86)\\SLOTWARD\\",
     kProgramFilesX86,
     {},
     FOLDER_ACCEPTED,
     31,
     {"c:\\program files (x86)\\SLOTWARD"}},
    // Where Windows lets users make folders, or a disk of its own: nothing is looked at.
    {"ProgramData", "C:\\ProgramData\\SLOTWARD\\", kProgramFiles, {}, FOLDER_OUTSIDE, 24, {}},
    {"DataVolume", "D:\\Data\\SLOTWARD\\", kProgramFiles, {}, FOLDER_OUTSIDE, 17, {}},
    {"Root", "C:\\", kProgramFiles, {}, FOLDER_OUTSIDE, 3, {}},
    {"ProgramFilesItself", "C:\\Program Files\\", kProgramFiles, {}, FOLDER_OUTSIDE, 17, {}},
    {"ProgramFilesWithoutBackslash",
     "C:\\Program Files",
     kProgramFiles,
     {},
     FOLDER_OUTSIDE,
     16,
     {}},
    {"NameThatOnlyBeginsAlike",
     "C:\\Program FilesX\\SLOTWARD",
     kProgramFiles,
     {},
     FOLDER_OUTSIDE,
     26,
     {}},
    // On 64-bit Windows the package's folder is Program Files (x86).
    {"OtherProgramFiles",
     "C:\\Program Files\\SLOTWARD\\",
     kProgramFilesX86,
     {},
     FOLDER_OUTSIDE,
     26,
     {}},
    // Not the long form.
    {"ParentName",
     "C:\\Program Files\\..\\ProgramData\\SLOTWARD",
     kProgramFiles,
     {},
     FOLDER_OUTSIDE,
     40,
     {}},
    {"CurrentName", "C:\\Program Files\\.\\SLOTWARD", kProgramFiles, {}, FOLDER_OUTSIDE, 27, {}},
    {"EmptyName", "C:\\Program Files\\\\SLOTWARD", kProgramFiles, {}, FOLDER_OUTSIDE, 26, {}},
    {"ShortProgramFiles", "C:\\PROGRA~1\\SLOTWARD\\", kProgramFiles, {}, FOLDER_OUTSIDE, 21, {}},
    {"Stream", "C:\\Program Files\\SLOTWARD:x", kProgramFiles, {}, FOLDER_OUTSIDE, 27, {}},
    {"Wildcard", "C:\\Program Files\\SLOT*", kProgramFiles, {}, FOLDER_OUTSIDE, 22, {}},
    {"ShortNameBelow",
     "C:\\Program Files\\TOOLS~1\\SLOTWARD",
     kProgramFiles,
     {{"C:\\Program Files\\TOOLS~1", {kShortName, &kAdministrators}}},
     FOLDER_SHORT_NAME,
     24,
     {"C:\\Program Files\\TOOLS~1"}},
    // An existing folder that leads elsewhere or that a user owns: nothing below it is looked
    // at, so that no look goes through the link.
    {"Junction",
     "C:\\Program Files\\Tools\\SLOTWARD",
     kProgramFiles,
     {{kTools, {kLink, &kAdministrators}}},
     FOLDER_LINK,
     22,
     {kTools}},
    {"JunctionAtTheEnd",
     "C:\\Program Files\\Tools\\SLOTWARD",
     kProgramFiles,
     {{kTools, {kPlain, &kAdministrators}}, {kTools + "\\SLOTWARD", {kLink, &kAdministrators}}},
     FOLDER_LINK,
     31,
     {kTools, kTools + "\\SLOTWARD"}},
    {"UserOwner",
     "C:\\Program Files\\Tools\\SLOTWARD",
     kProgramFiles,
     {{kTools, {kPlain, &kUser}}},
     FOLDER_FOREIGN_OWNER,
     22,
     {kTools}},
    // A Power User's folder is its own, whatever Windows 2000 and XP let the group do.
    {"PowerUsersOwner",
     "C:\\Program Files\\Tools\\SLOTWARD",
     kProgramFiles,
     {{kTools, {kPlain, &kPowerUsers}}},
     FOLDER_FOREIGN_OWNER,
     22,
     {kTools}},
    {"File",
     "C:\\Program Files\\Tools\\SLOTWARD",
     kProgramFiles,
     {{kTools, {kFile, &kAdministrators}}},
     FOLDER_NOT_A_FOLDER,
     22,
     {kTools}},
    {"Unreadable",
     "C:\\Program Files\\Tools\\SLOTWARD",
     kProgramFiles,
     {{kTools, {kUnreadable, &kAdministrators}}},
     FOLDER_UNREADABLE,
     22,
     {kTools}},
    {"OwnerUnreadable",
     "C:\\Program Files\\Tools\\SLOTWARD",
     kProgramFiles,
     {{kTools, {kOwnerUnreadable, &kAdministrators}}},
     FOLDER_UNREADABLE,
     22,
     {kTools}},
    // The administrator who installs owns what that administrator made (under Wine, all).
    {"InstallerOwner",
     "C:\\Program Files\\Tools\\SLOTWARD",
     kProgramFiles,
     {{kTools, {kPlain, &kWineUser}}},
     FOLDER_ACCEPTED,
     31,
     {kTools, kTools + "\\SLOTWARD"},
     &kWineUser},
    {"InstallerOwnerNotAdministrator",
     "C:\\Program Files\\Tools\\SLOTWARD",
     kProgramFiles,
     {{kTools, {kPlain, &kWineUser}}},
     FOLDER_FOREIGN_OWNER,
     22,
     {kTools}},
    // The installed version's folder, as 1.2.0 to 1.4.0 accepted it and as this version does.
    {"InstalledOutside", "C:\\Tools\\SLOTWARD\\", kProgramFilesX86, {}, FOLDER_OUTSIDE, 18, {}},
    {"InstalledBelow",
     "C:\\Program Files (x86)\\SLOTWARD\\",
     kProgramFilesX86,
     {{"C:\\Program Files (x86)\\SLOTWARD", {kPlain, &kAdministrators}}},
     FOLDER_ACCEPTED,
     31,
     {"C:\\Program Files (x86)\\SLOTWARD"}},
};

void PrintTo(const FolderCase &c, std::ostream *os) {
    *os << c.name;
}

class FolderTest : public ::testing::TestWithParam<FolderCase> {};

TEST_P(FolderTest, OnlyBelowProgramFiles) {
    const FolderCase &c = GetParam();
    Disk disk = {c.existing, {}};
    FolderLook look = {&disk, LookAt, c.installer != nullptr ? c.installer->data() : nullptr};
    int at = -1;
    EXPECT_EQ(JudgeFolder(c.folder, c.programFiles, nullptr, &look, &at), c.verdict);
    EXPECT_EQ(at, c.at);
    EXPECT_EQ(disk.looked, c.looked);
}

INSTANTIATE_TEST_SUITE_P(Folders, FolderTest, ::testing::ValuesIn(kFolders),
                         [](const ::testing::TestParamInfo<FolderCase> &info) {
                             return std::string(info.param.name);
                         });

int IsShiftJisLead(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

TEST(FolderPathTest, DoubleByteNamesAndNoProgramFolder) {
    Disk disk;
    FolderLook look = {&disk, LookAt, nullptr};
    int at = -1;
    // Shift-JIS: 0x83 0x5C is one character, whose second byte is not a separator; without the
    // code page's lead bytes it ends a name and the next one is empty.
    const char *japanese = "C:\\Program Files\\\x83\\\\b";
    EXPECT_EQ(JudgeFolder(japanese, kProgramFiles, IsShiftJisLead, &look, &at), FOLDER_ACCEPTED);
    EXPECT_EQ(disk.looked, (std::vector<std::string>{"C:\\Program Files\\\x83\\"}));
    EXPECT_EQ(JudgeFolder(japanese, kProgramFiles, nullptr, &look, &at), FOLDER_OUTSIDE);
    // A Program Files folder without its final backslash: a name that only begins alike is not
    // below it. Without one of drive-letter form nothing is below it.
    EXPECT_EQ(JudgeFolder("C:\\Program FilesX\\SW", "C:\\Program Files", nullptr, &look, &at),
              FOLDER_OUTSIDE);
    EXPECT_EQ(JudgeFolder("C:\\SLOTWARD", "", nullptr, &look, &at), FOLDER_OUTSIDE);
    EXPECT_EQ(JudgeFolder("\\\\host\\share\\SLOTWARD", "\\\\host\\share\\", nullptr, &look, &at),
              FOLDER_OUTSIDE);
    EXPECT_EQ(JudgeFolder(nullptr, kProgramFiles, nullptr, &look, &at), FOLDER_OUTSIDE);
}

} // namespace
