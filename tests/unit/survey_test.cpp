// The drive survey against simulated drive layouts: which drives are checked, which list each
// lands in, and how often each drive and its device are asked about.
#include "check_support.h"
#include "resident_run.h"

#include "check/survey.h"
#include "check/survey_thread.h"
#include "settings/settings.h"

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using sim::Medium;

struct Drive {
    char letter;
    UINT type;
    Medium medium = Medium::Files;
    DWORD failCode = 0;
    sim::Device device = {};
};

DWORD Bit(char letter) {
    return 1u << (letter - 'A');
}

void AddDrives(const std::vector<Drive> &drives) {
    for (const Drive &drive : drives) {
        sim::AddDrive(drive.letter, drive.type, drive.medium, drive.failCode);
        sim::SetDevice(drive.letter, drive.device);
    }
}

const sim::Device kUsb = {BusTypeUsb};
const sim::Device kImage = {BusTypeFileBackedVirtual};

// A USB disk of that number (of another device type with `type`), whose number query fails with
// `error` or whose open fails with `openError`.
sim::Device Usb(int disk, DWORD error = 0, DWORD openError = 0,
                DEVICE_TYPE type = FILE_DEVICE_DISK) {
    sim::Device device = {BusTypeUsb, FALSE, FALSE, 0, openError};
    device.disk = disk;
    device.numberError = error;
    device.deviceType = type;
    return device;
}

// A disc image in D: whose descriptor answer is cut to `returned` bytes (0: not cut), whose
// own Size says `reported` (0: the truth), and whose driver reports a cut as ERROR_MORE_DATA.
Drive CutImage(DWORD returned, DWORD reported, bool moreData) {
    Drive drive = {'D', DRIVE_CDROM, Medium::Files, 0, kImage};
    drive.device.descriptorSize = returned;
    drive.device.reportedSize = reported;
    drive.device.moreData = moreData;
    return drive;
}

class SurveyTest : public SimTest {};

struct LayoutCase {
    const char *name;
    std::vector<Drive> drives;
    DWORD includeMask;
    DWORD excludeMask;
    const char *mediaList;
    const char *emptyList;
    BOOL externalDrives = FALSE; // /U
    const char *windowsDirectory = "C:\\WINDOWS";
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
        // Mounted images are no media; only a positive answer skips a drive.
        {"CD-ROM image", {{'D', DRIVE_CDROM, Medium::Files, 0, kImage}}, 0, 0, "", ""},
        {"removable image", {{'R', DRIVE_REMOVABLE, Medium::None, 0, kImage}}, 0, 0, "", ""},
        {"image named by letter",
         {{'D', DRIVE_CDROM, Medium::Files, 0, kImage}},
         Bit('D'),
         0,
         "D: ",
         ""},
        {"image that cannot be opened",
         {{'D',
           DRIVE_CDROM,
           Medium::Files,
           0,
           {BusTypeFileBackedVirtual, 0, 0, 0, ERROR_ACCESS_DENIED}}},
         0,
         0,
         "D: ",
         ""},
        {"descriptor ending before the bus", {CutImage(24, 0, false)}, 0, 0, "D: ", ""},
        {"descriptor's own size ending before the bus", {CutImage(0, 24, false)}, 0, 0, "D: ", ""},
        {"more data, the head complete", {CutImage(0, 0, true)}, 0, 0, "", ""},
        {"more data, the head cut before the bus", {CutImage(24, 0, true)}, 0, 0, "D: ", ""},
        {"unknown bus value",
         {{'D', DRIVE_CDROM, Medium::Files, 0, {BusTypeMaxReserved}}},
         0,
         0,
         "D: ",
         ""},
        // With /U: the drive that holds Windows is never checked, whichever letter it has.
        {"Windows on a USB disk",
         {{'C', DRIVE_FIXED, Medium::Files, 0, kUsb}, {'D', DRIVE_FIXED, Medium::Files, 0, kUsb}},
         0,
         0,
         "D: ",
         "",
         TRUE},
        {"Windows on D:",
         {{'C', DRIVE_FIXED, Medium::Files, 0, kUsb}, {'D', DRIVE_FIXED, Medium::Files, 0, kUsb}},
         0,
         0,
         "C: ",
         "",
         TRUE,
         "d:\\WINNT"},
        // A Windows folder with no drive letter names no drive: none is spared.
        {"Windows folder without a letter",
         {{'C', DRIVE_FIXED, Medium::Files, 0, kUsb}, {'D', DRIVE_FIXED, Medium::Files, 0, kUsb}},
         0,
         0,
         "C: D: ",
         "",
         TRUE,
         "\\\\server\\windows"},
        {"Windows drive named by letter",
         {{'C', DRIVE_FIXED, Medium::Files, 0, kUsb}},
         Bit('C'),
         0,
         "C: ",
         "",
         TRUE},
        {"USB disk excluded",
         {{'E', DRIVE_FIXED, Medium::Files, 0, kUsb}},
         0,
         Bit('E'),
         "",
         "",
         TRUE},
        {"USB network drive", {{'N', DRIVE_REMOTE, Medium::Files, 0, kUsb}}, 0, 0, "", "", TRUE},
        {"USB card reader, no card",
         {{'E', DRIVE_FIXED, Medium::Failing, ERROR_NOT_READY, {BusTypeSd}}},
         0,
         0,
         "",
         "E: ",
         TRUE},
    };
    for (const LayoutCase &c : cases) {
        gSettings.includeMask = c.includeMask;
        gSettings.excludeMask = c.excludeMask;
        gSettings.externalDrives = c.externalDrives;
        sim::SetWindowsDirectory(c.windowsDirectory);
        AddDrives(c.drives);
        SurveyDrives();
        EXPECT_STREQ(gMediaList, c.mediaList) << c.name;
        EXPECT_STREQ(gEmptyList, c.emptyList) << c.name;
        EXPECT_EQ(ProgramHandles(), 0) << c.name << ": a search or device handle was left open";
        EXPECT_EQ(gSettings.includeMask, c.includeMask) << c.name;
        EXPECT_EQ(gSettings.excludeMask, c.excludeMask) << c.name;
        NextCase(c.name);
    }
}

// Every bus with every hot-plug answer, without and with /U: the CD-ROM D: is checked unless it
// is an image; with /U the fixed E: is checked when its bus is outside the case, or when it is
// hot-pluggable on a bus where internal disks are not. Windows' drive C: is opened only once E:
// may be outside, the network drive N: never; neither is ever checked.
TEST_F(SurveyTest, BusTypesWithAndWithoutExternalOption) {
    enum Kind { kInside, kOutside, kUnsure, kImage };
    const struct {
        STORAGE_BUS_TYPE bus;
        Kind kind;
    } buses[] = {{BusTypeUnknown, kUnsure}, {BusTypeScsi, kInside},
                 {BusTypeAtapi, kInside},   {BusTypeAta, kInside},
                 {BusType1394, kOutside},   {BusTypeSsa, kInside},
                 {BusTypeFibre, kInside},   {BusTypeUsb, kOutside},
                 {BusTypeRAID, kInside},    {BusTypeiScsi, kInside},
                 {BusTypeSas, kInside},     {BusTypeSata, kInside},
                 {BusTypeSd, kOutside},     {BusTypeMmc, kOutside},
                 {BusTypeVirtual, kInside}, {BusTypeFileBackedVirtual, kImage},
                 {BusTypeSpaces, kInside},  {BusTypeNvme, kUnsure},
                 {BusTypeSCM, kInside},     {BusTypeUfs, kInside},
                 {BusTypeMax, kUnsure},     {BusTypeMaxReserved, kUnsure}};
    const struct {
        const char *name;
        BOOLEAN mediaRemovable, deviceHotplug;
        DWORD error;
    } answers[] = {{"fixed", FALSE, FALSE, 0},
                   {"removable media", TRUE, FALSE, 0},
                   {"hot-pluggable", FALSE, TRUE, 0},
                   {"no hot-plug answer (Wine)", TRUE, TRUE, ERROR_NOT_SUPPORTED}};
    for (const auto &b : buses) {
        for (const auto &a : answers) {
            const sim::Device device = {b.bus, a.mediaRemovable, a.deviceHotplug, a.error};
            const bool hotplug = a.error == 0 && (a.mediaRemovable || a.deviceHotplug);
            const bool outside = b.kind == kOutside || (b.kind == kUnsure && hotplug);
            for (BOOL external : {FALSE, TRUE}) {
                const std::string label =
                    "bus " + std::to_string(b.bus) + ", " + a.name + (external ? " with /U" : "");
                gSettings.externalDrives = external;
                AddDrives({{'C', DRIVE_FIXED, Medium::Files, 0, device},
                           {'D', DRIVE_CDROM, Medium::Files, 0, device},
                           {'E', DRIVE_FIXED, Medium::Files, 0, device},
                           {'N', DRIVE_REMOTE, Medium::Files, 0, device}});
                SurveyDrives();
                const bool checked = external && outside;
                EXPECT_STREQ(gMediaList, b.kind == kImage ? ""
                                         : checked        ? "D: E: "
                                                          : "D: ")
                    << label;
                EXPECT_EQ(sim::DeviceOpens('C'), checked ? 1 : 0) << label;
                EXPECT_EQ(sim::DeviceOpens('N'), 0) << label;
                EXPECT_EQ(sim::DeviceOpens('E'), external ? 1 : 0) << label;
                // The bus, the hot-plug answer where the bus does not tell, the disk's number.
                EXPECT_EQ(sim::DeviceQueries('E'),
                          external ? 1 + (b.kind == kUnsure ? 1 : 0) + (outside ? 1 : 0) : 0)
                    << label;
                EXPECT_EQ(ProgramHandles(), 0) << label;
                NextCase(label);
            }
        }
    }
}

// With /U, a fixed E: that may be outside the case beside Windows' C:: the disk Windows runs
// from is spared whichever of its partitions a drive is, as far as both disks' numbers tell.
TEST_F(SurveyTest, WindowsDiskSparedWithExternalOption) {
    const struct {
        const char *name;
        sim::Device windows, drive;
        const char *mediaList;
    } cases[] = {
        {"another partition of Windows' disk", Usb(1), Usb(1), ""},
        {"a disk of its own", Usb(1), Usb(2), "E: "},
        {"another device type, the same number", Usb(1), Usb(1, 0, 0, FILE_DEVICE_DISK + 1), "E: "},
        {"Windows' disk not told", Usb(1, ERROR_INVALID_FUNCTION), Usb(1), "E: "},
        {"Windows' volume not opened", Usb(1, 0, ERROR_ACCESS_DENIED), Usb(1), "E: "},
        {"the drive's own disk not told", Usb(1), Usb(2, ERROR_INVALID_FUNCTION), ""},
        // Not knowing the bus is not knowing the place: the hot-plug answer decides.
        {"USB, descriptor ending before the bus", Usb(1), {BusTypeUsb, 0, 0, 0, 0, 24}, ""},
        {"same, hot-pluggable", Usb(1), {BusTypeUsb, 0, TRUE, 0, 0, 24}, "E: "},
    };
    for (const auto &c : cases) {
        gSettings.externalDrives = TRUE;
        AddDrives({{'C', DRIVE_FIXED, Medium::Files, 0, c.windows},
                   {'E', DRIVE_FIXED, Medium::Files, 0, c.drive}});
        SurveyDrives();
        EXPECT_STREQ(gMediaList, c.mediaList) << c.name;
        EXPECT_EQ(ProgramHandles(), 0) << c.name;
        NextCase(c.name);
    }
}

// A device that cannot be opened or asked leaves the old treatment: a CD-ROM is checked even if
// it is an image, a fixed drive is not checked even if it is on USB.
TEST_F(SurveyTest, DeviceFailuresKeepTheOldTreatment) {
    const struct {
        const char *name;
        sim::Api api;
        int nth;
        bool persistent;
        const char *mediaList;
    } cases[] = {
        {"image not opened", sim::Api::CreateFileA, 1, false, "D: E: "},
        {"image not answering", sim::Api::DeviceIoControl, 1, false, "D: E: "},
        {"USB disk not opened", sim::Api::CreateFileA, 2, false, ""},
        {"nothing answers", sim::Api::DeviceIoControl, 1, true, "D: "},
    };
    for (const auto &c : cases) {
        gSettings.externalDrives = TRUE;
        AddDrives({{'D', DRIVE_CDROM, Medium::Files, 0, kImage},
                   {'E', DRIVE_FIXED, Medium::Files, 0, kUsb}});
        sim::FailCall(c.api, c.nth, c.persistent);
        SurveyDrives();
        EXPECT_STREQ(gMediaList, c.mediaList) << c.name;
        EXPECT_EQ(ProgramHandles(), 0) << c.name << ": a device handle was left open";
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
// has its type asked, included or not; excluded and missing drives are not touched at all. A
// device is opened once, and only where its answer decides: removable and CD-ROM drives not
// named, and with /U the fixed drives other than Windows' own (the hot-plug answer only where
// the bus does not tell, the disk's number only where the drive may be outside). Windows' own
// volume is opened once, for the first such drive, however many follow.
TEST_F(SurveyTest, EachDriveAskedAboutOnce) {
    const struct {
        char letter;
        int typeQueries;
        int probes[2], opens[2], queries[2]; // without and with /U
    } expected[] = {{'A', 1, {1, 1}, {1, 1}, {1, 1}}, {'B', 0, {0, 0}, {0, 0}, {0, 0}},
                    {'C', 1, {0, 0}, {0, 1}, {0, 1}}, {'D', 1, {1, 1}, {1, 1}, {1, 1}},
                    {'E', 0, {0, 0}, {0, 0}, {0, 0}}, {'F', 1, {1, 1}, {0, 0}, {0, 0}},
                    {'G', 0, {0, 0}, {0, 0}, {0, 0}}, {'H', 1, {0, 1}, {0, 1}, {0, 2}},
                    {'I', 1, {0, 0}, {0, 1}, {0, 1}}, {'J', 1, {0, 0}, {1, 1}, {1, 1}},
                    {'K', 1, {0, 1}, {0, 1}, {0, 3}}, {'Q', 1, {0, 0}, {0, 0}, {0, 0}}};
    const std::vector<std::string> opened[2] = {{"\\\\.\\A:", "\\\\.\\D:", "\\\\.\\J:"},
                                                {"\\\\.\\A:", "\\\\.\\D:", "\\\\.\\H:", "\\\\.\\C:",
                                                 "\\\\.\\I:", "\\\\.\\J:", "\\\\.\\K:"}};
    const std::vector<std::string> probed[2] = {{"A:*.*", "D:*.*", "F:*.*"},
                                                {"A:*.*", "D:*.*", "F:*.*", "H:*.*", "K:*.*"}};
    for (int u = 0; u < 2; u++) {
        AddDrives({{'A', DRIVE_REMOVABLE, Medium::None},
                   {'C', DRIVE_FIXED, Medium::Files, 0, kUsb},
                   {'D', DRIVE_CDROM, Medium::Files},
                   {'E', DRIVE_REMOVABLE, Medium::Files, 0, kImage},
                   {'F', DRIVE_FIXED, Medium::Files, 0, kUsb},
                   {'H', DRIVE_FIXED, Medium::Files, 0, kUsb},
                   {'I', DRIVE_FIXED, Medium::Files, 0, {BusTypeSata}},
                   {'J', DRIVE_CDROM, Medium::Files, 0, kImage},
                   {'K', DRIVE_FIXED, Medium::Files, 0, {BusTypeNvme, FALSE, TRUE}},
                   {'Q', DRIVE_REMOTE, Medium::Files, 0, kUsb}});
        gSettings.includeMask = Bit('F') | Bit('G');
        gSettings.excludeMask = Bit('E');
        gSettings.externalDrives = u;
        SurveyDrives();
        for (const auto &e : expected) {
            EXPECT_EQ(sim::TypeQueries(e.letter), e.typeQueries) << e.letter << u;
            EXPECT_EQ(sim::Probes(e.letter), e.probes[u]) << e.letter << u;
            EXPECT_EQ(sim::DeviceOpens(e.letter), e.opens[u]) << e.letter << u;
            EXPECT_EQ(sim::DeviceQueries(e.letter), e.queries[u]) << e.letter << u;
        }
        EXPECT_EQ(sim::TypeQueryRoots(),
                  (std::vector<std::string>{"A:", "C:", "D:", "F:", "H:", "I:", "J:", "K:", "Q:"}));
        EXPECT_EQ(sim::ProbePatterns(), probed[u]);
        EXPECT_EQ(sim::CreateFileLog(), opened[u]);
        ExpectNothingLeaked();
        NextCase(u ? "with /U" : "without /U");
    }
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

// Without a thread of its own (none can be started) the survey looks at the drives itself
// rather than name every checked drive as holding a medium.
TEST_F(SurveyTest, WithoutASurveyThreadTheDrivesAreStillLookedAt) {
    const struct {
        sim::Api api;
        int nth;
    } failures[] = {
        {sim::Api::CreateThread, 1}, {sim::Api::CreateEventA, 1}, {sim::Api::CreateEventA, 2}};
    for (const auto &failure : failures) {
        sim::AddDrive('A', DRIVE_REMOVABLE, Medium::Files);
        sim::AddDrive('D', DRIVE_CDROM, Medium::None);
        sim::FailCall(failure.api, failure.nth);
        EXPECT_TRUE(SurveyDrives());
        EXPECT_STREQ(gMediaList, "A: ") << failure.nth;
        EXPECT_STREQ(gEmptyList, "D: ") << failure.nth;
        ExpectNothingLeaked();
        NextCase("call failing");
    }
}

// A drive that has not answered when the limit passes counts as holding a medium and is named
// with the others: so are the checked drives the survey did not reach behind it. A slow drive
// that answers in time is listed as it answered. A second survey while the look still hangs
// does not look at that drive again: it names it, and asks the drives behind it.
TEST_F(SurveyTest, DrivesThatDoNotAnswerInTimeCountAsHoldingAMedium) {
    const struct {
        const char *name;
        std::vector<Drive> drives;
        char hung;
        bool answers; // slow, but back before the limit
        DWORD includeMask;
        const char *mediaList[2]; // first and second survey
        const char *emptyList[2];
    } cases[] = {
        {"hung CD-ROM",
         {{'A', DRIVE_REMOVABLE, Medium::None},
          {'D', DRIVE_CDROM, Medium::Files},
          {'F', DRIVE_CDROM, Medium::None},
          {'C', DRIVE_FIXED}},
         'D',
         false,
         0,
         {"D: F: ", "D: "},
         {"A: ", "A: F: "}},
        {"named network drive whose server is gone",
         {{'A', DRIVE_REMOVABLE, Medium::None}, {'N', DRIVE_REMOTE}},
         'N',
         false,
         Bit('N'),
         {"N: ", "N: "},
         {"A: ", "A: "}},
        {"slow drive answers in time",
         {{'D', DRIVE_CDROM, Medium::None}},
         'D',
         true,
         0,
         {"", ""},
         {"D: ", "D: "}},
    };
    for (const auto &c : cases) {
        gSettings.includeMask = c.includeMask;
        AddDrives(c.drives);
        {
            HungDrive hung(c.hung, kSurveyLimit - 1, c.answers);
            hung.PassLimitsWhileHeld();
            for (int survey = 1; survey <= 2; survey++) {
                EXPECT_TRUE(SurveyDrives()) << c.name;
                EXPECT_STREQ(gMediaList, c.mediaList[survey - 1]) << c.name << survey;
                EXPECT_STREQ(gEmptyList, c.emptyList[survey - 1]) << c.name << survey;
                EXPECT_EQ(hung.Held(), c.answers ? 0 : 1) << c.name << survey;
                EXPECT_EQ(sim::Probes(c.hung), c.answers ? survey : 0) << c.name << survey;
            }
            // A thread given up on is not waited for again; the second survey has a new one,
            // and the first ends once its drive lets it go.
            EXPECT_EQ(sim::Calls(sim::Api::CreateThread), c.answers ? 1 : 2) << c.name;
            hung.Release();
            EXPECT_TRUE(WaitUntil([] { return sim::RunningThreads() == 1; }, 5000)) << c.name;
        }
        NextCase(c.name);
    }
}

} // namespace
