// The drive survey against simulated drive layouts: which drives are checked, which list each
// lands in, and how often each drive is asked about.
#include "check_support.h"

#include "check/survey.h"
#include "settings/settings.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

using sim::Medium;

struct Drive {
    char letter;
    UINT type;
    Medium medium = Medium::Files;
    DWORD failCode = 0;
};

DWORD Bit(char letter) {
    return 1u << (letter - 'A');
}

void AddDrives(const std::vector<Drive> &drives) {
    for (const Drive &drive : drives)
        sim::AddDrive(drive.letter, drive.type, drive.medium, drive.failCode);
}

class SurveyTest : public SimTest {};

struct LayoutCase {
    const char *name;
    std::vector<Drive> drives;
    DWORD includeMask;
    DWORD excludeMask;
    const char *mediaList;
    const char *emptyList;
};

TEST_F(SurveyTest, DriveLayouts) {
    const Drive emptyFloppy = {'A', DRIVE_REMOVABLE, Medium::None, 0};
    const Drive fullFloppy = {'A', DRIVE_REMOVABLE, Medium::Files, 0};
    const Drive hardDisk = {'C', DRIVE_FIXED, Medium::Files, 0};
    const LayoutCase cases[] = {
        {"no drives at all", {}, 0, 0, "", ""},
        {"fixed disk only", {hardDisk}, 0, 0, "", ""},
        {"network and RAM drives", {{'N', DRIVE_REMOTE}, {'R', DRIVE_RAMDISK}}, 0, 0, "", ""},
        {"removable, no medium", {emptyFloppy, hardDisk}, 0, 0, "", "A: "},
        {"removable with files", {fullFloppy, hardDisk}, 0, 0, "A: ", ""},
        {"CD-ROM, no disc", {{'D', DRIVE_CDROM, Medium::None}}, 0, 0, "", "D: "},
        {"CD-ROM with disc", {{'D', DRIVE_CDROM, Medium::Files}}, 0, 0, "D: ", ""},
        {"empty formatted medium",
         {{'B', DRIVE_REMOVABLE, Medium::EmptyFormatted}},
         0,
         0,
         "B: ",
         ""},
        {"unreadable medium",
         {{'B', DRIVE_REMOVABLE, Medium::Failing, ERROR_CRC}},
         0,
         0,
         "B: ",
         ""},
        {"access denied",
         {{'D', DRIVE_CDROM, Medium::Failing, ERROR_ACCESS_DENIED}},
         0,
         0,
         "D: ",
         ""},
        {"unrecognised medium",
         {{'D', DRIVE_CDROM, Medium::Failing, ERROR_UNRECOGNIZED_MEDIA}},
         0,
         0,
         "D: ",
         ""},
        {"fixed disk included", {emptyFloppy, hardDisk}, Bit('C'), 0, "C: ", "A: "},
        {"network drive included", {{'N', DRIVE_REMOTE}}, Bit('N'), 0, "N: ", ""},
        {"included drive not ready",
         {{'N', DRIVE_REMOTE, Medium::Failing, ERROR_NOT_READY}},
         Bit('N'),
         0,
         "",
         "N: "},
        {"removable excluded", {emptyFloppy, hardDisk}, 0, Bit('A'), "", ""},
        {"included and excluded", {fullFloppy, hardDisk}, Bit('C'), Bit('C'), "A: ", ""},
        {"removable included and excluded", {fullFloppy}, Bit('A'), Bit('A'), "", ""},
        {"missing letters included", {hardDisk}, Bit('B') | Bit('Q') | Bit('Z'), 0, "", ""},
        {"masks beyond Z ignored", {hardDisk}, 0xFC000000u, 0, "", ""},
        {"drive Z",
         {{'Z', DRIVE_CDROM, Medium::Files}, {'Y', DRIVE_REMOVABLE, Medium::None}},
         0,
         0,
         "Z: ",
         "Y: "},
        {"the A, D, E example",
         {{'E', DRIVE_REMOVABLE, Medium::Files},
          emptyFloppy,
          hardDisk,
          {'D', DRIVE_CDROM, Medium::Files}},
         0,
         0,
         "D: E: ",
         "A: "},
    };
    for (const LayoutCase &c : cases) {
        gSettings.includeMask = c.includeMask;
        gSettings.excludeMask = c.excludeMask;
        AddDrives(c.drives);
        SurveyDrives();
        EXPECT_STREQ(gMediaList, c.mediaList) << c.name;
        EXPECT_STREQ(gEmptyList, c.emptyList) << c.name;
        EXPECT_EQ(sim::OpenHandles(), 0) << c.name << ": a search handle was left open";
        EXPECT_EQ(gSettings.includeMask, c.includeMask) << c.name;
        EXPECT_EQ(gSettings.excludeMask, c.excludeMask) << c.name;
        NextCase(c.name);
    }
}

TEST_F(SurveyTest, AllTwentySixDrivesFitTheList) {
    for (char letter = 'A'; letter <= 'Z'; letter++)
        sim::AddDrive(letter, DRIVE_REMOVABLE, Medium::Files);
    // Leftovers with no terminator anywhere: the survey must not append after them.
    std::memset(gMediaList, 'x', sizeof gMediaList);
    std::memset(gEmptyList, 'x', sizeof gEmptyList);
    SurveyDrives();
    std::string expected;
    for (char letter = 'A'; letter <= 'Z'; letter++)
        expected += std::string(1, letter) + ": ";
    ASSERT_EQ(expected.size(), 78u);
    EXPECT_EQ(std::string(gMediaList), expected);
    EXPECT_STREQ(gEmptyList, "");
}

TEST_F(SurveyTest, AllTwentySixDrivesEmpty) {
    for (char letter = 'A'; letter <= 'Z'; letter++)
        sim::AddDrive(letter, DRIVE_CDROM, Medium::None);
    SurveyDrives();
    EXPECT_EQ(std::string(gEmptyList).size(), 78u);
    EXPECT_EQ(std::string(gEmptyList, 6), "A: B: ");
    EXPECT_STREQ(gMediaList, "");
}

// Each qualifying drive is probed once per survey; every existing drive that is not excluded
// has its type asked, included or not; excluded and missing drives are not touched at all.
TEST_F(SurveyTest, EachDriveAskedAboutOnce) {
    AddDrives({{'A', DRIVE_REMOVABLE, Medium::None},
               {'C', DRIVE_FIXED, Medium::Files},
               {'D', DRIVE_CDROM, Medium::Files},
               {'E', DRIVE_REMOVABLE, Medium::Files},
               {'F', DRIVE_FIXED, Medium::Files},
               {'Q', DRIVE_REMOTE, Medium::Files}});
    gSettings.includeMask = Bit('F') | Bit('G');
    gSettings.excludeMask = Bit('E');
    SurveyDrives();

    const struct {
        char letter;
        int typeQueries;
        int probes;
    } expected[] = {{'A', 1, 1}, {'B', 0, 0}, {'C', 1, 0}, {'D', 1, 1},
                    {'E', 0, 0}, {'F', 1, 1}, {'G', 0, 0}, {'Q', 1, 0}};
    for (const auto &e : expected) {
        EXPECT_EQ(sim::TypeQueries(e.letter), e.typeQueries) << e.letter;
        EXPECT_EQ(sim::Probes(e.letter), e.probes) << e.letter;
    }
    EXPECT_EQ(sim::TypeQueryRoots(), (std::vector<std::string>{"A:", "C:", "D:", "F:", "Q:"}));
    EXPECT_EQ(sim::ProbePatterns(), (std::vector<std::string>{"A:*.*", "D:*.*", "F:*.*"}));
    ExpectNothingLeaked();
}

// Nothing is cached: a second survey asks again and sees a medium that was taken out, and
// lists left over from before are replaced, not extended.
TEST_F(SurveyTest, EverySurveyStartsAfresh) {
    sim::AddDrive('A', DRIVE_REMOVABLE, Medium::Files);
    sim::AddDrive('D', DRIVE_CDROM, Medium::None);
    SurveyDrives();
    EXPECT_STREQ(gMediaList, "A: ");
    EXPECT_STREQ(gEmptyList, "D: ");

    sim::AddDrive('A', DRIVE_REMOVABLE, Medium::None);
    sim::AddDrive('D', DRIVE_CDROM, Medium::Files);
    SurveyDrives();
    EXPECT_STREQ(gMediaList, "D: ");
    EXPECT_STREQ(gEmptyList, "A: ");
    EXPECT_EQ(sim::Probes('A'), 2);
    EXPECT_EQ(sim::Probes('D'), 2);
    ExpectNothingLeaked();
}

} // namespace
