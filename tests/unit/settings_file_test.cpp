// The settings file together with the command line, in the order a start applies them: which
// file is looked for, what its text does, how the command line overrides it, and that every
// failure leaves nothing behind.
#include "fixture.h"

#include "control/messages.h"
#include "settings/dbcs.h"
#include "settings/options.h"
#include "settings/settings.h"
#include "settings/settings_file.h"
#include "settings/tokens.h"

#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

class SettingsFileTest : public SimTest {
  protected:
    // A new machine for the next row of a table, once the last row's problems are reported.
    void FreshMachine() {
        for (const std::string &problem : sim::Problems())
            ADD_FAILURE() << "simulated platform: " << problem;
        sim::Reset();
        ResetProgramState();
    }
    // The settings part of a start: the file first, then the command line's own options.
    BOOL Start(const std::string &commandLine) {
        sim::SetCommandLine(commandLine);
        BuildLeadByteTable(gLeadByteTable, kLeadByteTableCapacity);
        LoadSettingsFile();
        EXPECT_EQ(gTokenTable.count, 0) << "the file's tokens were not released";
        ExpectNothingLeaked();
        SplitCommandLine();
        BOOL terminate = ApplyOptions();
        ReleaseTokens();
        ExpectNothingLeaked();
        return terminate;
    }
    // Only the file's effect: the command line carries no options.
    void LoadWithFile(const std::string &text) {
        sim::AddFile("C:\\SW\\SLOTWARD.CFG", text);
        Start("C:\\SW\\SLOTWARD.EXE");
    }
};

// Which file is opened for which program name; `searched` is what the search was asked for.
TEST_F(SettingsFileTest, FileNameFollowsTheProgramName) {
    // Found as <dir>\fits.EXE in 259 bytes, and as <dir>\toolong.EXE in 260.
    const std::string fitDir = "C:\\" + std::string(247, 'd');
    const std::string tooDir = "C:\\" + std::string(245, 't');
    const struct {
        UINT codePage;
        std::string commandLine;
        Strings searched;
        Strings opened;
    } cases[] = {
        {1252, "C:\\Tools\\slotward.exe /T", {}, {"C:\\Tools\\slotward.CFG"}},
        {1252, "C:\\Tools\\slotward", {}, {"C:\\Tools\\slotward.CFG"}},
        {1252, "C:\\Tools\\sw.com", {}, {"C:\\Tools\\sw.com.CFG"}},
        {1252, "C:\\Tools\\SW.EXE.bak", {}, {"C:\\Tools\\SW.EXE.bak.CFG"}},
        {1252,
         "\"C:\\Program Files\\SW\\SLOTWARD.EXE\" /T",
         {},
         {"C:\\Program Files\\SW\\SLOTWARD.CFG"}},
        {1252, "slotward /F", {"slotward"}, {"C:\\Apps\\slotward.CFG"}},
        {1252, "\"SLOTWARD.EXE\"", {"\"SLOTWARD.EXE\""}, {"SLOTWARD.CFG"}},
        {1252, "NOWHERE.EXE", {"NOWHERE.EXE"}, {"NOWHERE.CFG"}},
        {1252, "SW", {"SW"}, {"SW.CFG"}},
        {1252, "EXE", {"EXE"}, {"EXE.CFG"}},
        {1252, ".exe", {".exe"}, {".CFG"}},
        {1252, "\"\" /T", {"\"\""}, {".CFG"}},
        {1252, "\"", {"\""}, {".CFG"}},
        // 0x95 0x5C is one character on 932, a letter and a backslash on 1252.
        {932, "\x95\x5C.EXE", {"\x95\x5C.EXE"}, {"\x95\x5C.CFG"}},
        {1252, "\x95\x5C.EXE", {}, {"\x95\x5C.CFG"}},
        {932, "C:\\\x95\x5C\\SW.EXE", {}, {"C:\\\x95\x5C\\SW.CFG"}},
        // A found path that just fits the buffer is used; one byte more counts as not found.
        {1252, "fits", {"fits"}, {fitDir + "\\fits.CFG"}},
        {1252, "toolong", {"toolong"}, {"toolong.CFG"}},
    };
    for (const auto &c : cases) {
        FreshMachine();
        sim::SetCodePages(c.codePage, c.codePage);
        sim::AddFile("C:\\Apps\\slotward.EXE", "");
        sim::AddFile(fitDir + "\\fits.EXE", "");
        sim::AddFile(tooDir + "\\toolong.EXE", "");
        sim::SetSearchDirectories({"C:\\Apps", fitDir, tooDir});
        Start(c.commandLine);
        EXPECT_EQ(sim::SearchLog(), c.searched) << c.commandLine;
        EXPECT_EQ(sim::CreateFileLog(), c.opened) << c.commandLine;
    }
}

// A name or path that cannot take .CFG within the 260-byte buffer gives up the file.
TEST_F(SettingsFileTest, OverlongPathsGiveUpTheFile) {
    const struct {
        std::string commandLine;
        size_t openedLength; // 0: no file opened
    } cases[] = {
        {"C:\\" + std::string(252, 'n') + ".EXE", 259}, // .EXE replaced in place
        {"C:\\" + std::string(253, 'n') + ".EXE", 0},   // 260 bytes do not fit at all
        {"C:\\" + std::string(252, 'n'), 259},          // 255 + .CFG
        {"C:\\" + std::string(253, 'n'), 0},            // 256 + .CFG would be 260
        // The quotes count while the name is copied, before they are removed.
        {"\"C:\\" + std::string(252, 'n') + ".EXE\"", 0},
    };
    for (const auto &c : cases) {
        FreshMachine();
        Start(c.commandLine);
        const Strings &opened = sim::CreateFileLog();
        EXPECT_EQ(opened.size(), c.openedLength ? 1u : 0u) << c.commandLine.size();
        if (!opened.empty()) {
            EXPECT_EQ(opened[0].size(), c.openedLength);
        }
    }
}

TEST_F(SettingsFileTest, FileOptionsApplyAndTheCommandLineOverrides) {
    sim::AddFile("C:\\SW\\SLOTWARD.CFG",
                 "/F\r\nb:\r\n/X d:\r\n/U\r\n/T\r\n/M\"File $DRIVE$,FileCap\"\x1A");
    gLanguageIndex = kJapanese;
    EXPECT_EQ(Start("C:\\SW\\SLOTWARD.EXE d: e: /M?\"Cmd $DRIVE$\""), FALSE);
    EXPECT_EQ(gSettings.forceRefusal, TRUE);
    EXPECT_EQ(gSettings.externalDrives, TRUE); // the file's /U counts
    EXPECT_EQ(gSettings.testReport, FALSE);
    EXPECT_EQ(gSettings.previewMode, TRUE);
    EXPECT_EQ(gSettings.includeMask, 0x2u | 0x8u | 0x10u); // the file's /X ended with the file
    EXPECT_EQ(gSettings.excludeMask, 0x8u);
    EXPECT_EQ(std::string(gSettings.templatePrefix), "Cmd  ");
    EXPECT_EQ(std::string(gSettings.templateSuffix), "");
    EXPECT_EQ(gSettings.customCaption, nullptr);
    EXPECT_EQ(gLanguageIndex, kJapanese);
}

TEST_F(SettingsFileTest, FileTemplateOutlivesItsTokens) {
    LoadWithFile("/M\"File $DRIVE$ end,FileCap\"");
    ASSERT_NE(gSettings.customCaption, nullptr);
    EXPECT_EQ(std::string(gSettings.templatePrefix), "File  ");
    EXPECT_EQ(std::string(gSettings.templateSuffix), " end");
    EXPECT_EQ(std::string(gSettings.customCaption), "FileCap");
}

TEST_F(SettingsFileTest, MasksOnlyGainBits) {
    sim::AddFile("C:\\SW\\SLOTWARD.CFG", "a: /X b:");
    Start("C:\\SW\\SLOTWARD.EXE c: /X d: a:");
    EXPECT_EQ(gSettings.includeMask, 0x1u | 0x4u);
    EXPECT_EQ(gSettings.excludeMask, 0x1u | 0x2u | 0x8u);
}

TEST_F(SettingsFileTest, TerminationRequestCountsOnlyFromTheCommandLine) {
    sim::AddFile("C:\\SW\\SLOTWARD.CFG", "/R /E");
    gLanguageIndex = kJapanese;
    EXPECT_EQ(Start("C:\\SW\\SLOTWARD.EXE"), FALSE);
    EXPECT_EQ(gLanguageIndex, kEnglish);
    EXPECT_EQ(Start("C:\\SW\\SLOTWARD.EXE /R"), TRUE);
}

// What the file's bytes turn into: line ends and Ctrl-Z separate, a tab joins, a zero byte
// ends the text, and only the first 255 bytes count.
TEST_F(SettingsFileTest, FileTextIsReadLikeACommandLine) {
    const struct {
        std::string text;
        BOOL force, test;
        DWORD include;
    } cases[] = {
        {"/F\nc:", 1, 0, 0x4},
        {"/F\r/T\x1A"
         "c:",
         1, 1, 0x4},
        {"/T\t/F c:", 0, 1, 0x4},
        {std::string("/F\0/T c:", 8), 1, 0, 0},
        {std::string(253, ' ') + "c:d:", 0, 0, 0x4},
        {std::string(254, ' ') + "c:", 0, 0, 0},
        {std::string(250, ' ') + "/F" + std::string(48, 'x'), 1, 0, 0},
        {"", 0, 0, 0},
    };
    for (const auto &c : cases) {
        FreshMachine();
        LoadWithFile(c.text);
        EXPECT_EQ(gSettings.forceRefusal, c.force) << Hex(c.text);
        EXPECT_EQ(gSettings.testReport, c.test) << Hex(c.text);
        EXPECT_EQ(gSettings.includeMask, c.include) << Hex(c.text);
    }
}

// A token cut by the 255-byte limit is interpreted with what is left of it.
TEST_F(SettingsFileTest, LongFileIsCutInsideAToken) {
    LoadWithFile(std::string(250, ' ') + "/Mab$DRIVE$" + std::string(39, 'z'));
    EXPECT_EQ(std::string(gSettings.templateBuffer), "ab$");
    EXPECT_EQ(gSettings.templatePrefix, nullptr);
}

TEST_F(SettingsFileTest, NoFileOrAFailingReadGivesNoOptions) {
    Start("C:\\SW\\SLOTWARD.EXE");
    EXPECT_EQ(sim::CreateFileLog(), Strings{"C:\\SW\\SLOTWARD.CFG"});

    sim::AddFile("C:\\SW\\SLOTWARD.CFG", "/F");
    sim::FailCall(sim::Api::ReadFile, 1);
    Start("C:\\SW\\SLOTWARD.EXE");
    sim::FailCall(sim::Api::CreateFileA, 1);
    Start("C:\\SW\\SLOTWARD.EXE");
    EXPECT_EQ(gSettings.forceRefusal, FALSE);
}

// The load makes, in order: the command line's copy, entry array and storage, then the file's
// entry array and storage; each a GlobalAlloc and a GlobalLock. Failing the command line's
// gives no program name and so no file; failing the file's gives a file without options.
TEST_F(SettingsFileTest, EveryFailureLeavesNoTableAndNoLeak) {
    const struct {
        sim::Api api;
        int nth;
        bool opened;
    } cases[] = {
        {sim::Api::GlobalAlloc, 1, false},  {sim::Api::GlobalAlloc, 2, false},
        {sim::Api::GlobalAlloc, 3, false},  {sim::Api::GlobalAlloc, 4, true},
        {sim::Api::GlobalAlloc, 5, true},   {sim::Api::GlobalLock, 1, false},
        {sim::Api::GlobalLock, 2, false},   {sim::Api::GlobalLock, 3, false},
        {sim::Api::GlobalLock, 4, true},    {sim::Api::GlobalLock, 5, true},
        {sim::Api::CreateMutexA, 1, false}, {sim::Api::CreateMutexA, 2, true},
    };
    for (const auto &c : cases) {
        FreshMachine();
        sim::AddFile("C:\\SW\\SLOTWARD.CFG", "/F c:");
        sim::SetCommandLine("C:\\SW\\SLOTWARD.EXE");
        BuildLeadByteTable(gLeadByteTable, kLeadByteTableCapacity);
        sim::FailCall(c.api, c.nth);
        LoadSettingsFile();
        const std::string label = std::to_string(int(c.api)) + " #" + std::to_string(c.nth);
        EXPECT_EQ(sim::CreateFileLog().size(), c.opened ? 1u : 0u) << label;
        EXPECT_EQ(gTokenTable.count, 0) << label;
        EXPECT_EQ(gSettings.forceRefusal, FALSE) << label;
        EXPECT_EQ(gSettings.includeMask, 0u) << label;
        ExpectNothingLeaked();
    }
    // Without failures the same load makes exactly the calls counted above.
    FreshMachine();
    sim::AddFile("C:\\SW\\SLOTWARD.CFG", "/F c:");
    sim::SetCommandLine("C:\\SW\\SLOTWARD.EXE");
    LoadSettingsFile();
    EXPECT_EQ(sim::Calls(sim::Api::GlobalAlloc), 5);
    EXPECT_EQ(sim::Calls(sim::Api::GlobalLock), 5);
    EXPECT_EQ(sim::Calls(sim::Api::CreateMutexA), 2);
    EXPECT_EQ(gSettings.forceRefusal, TRUE);
}

} // namespace
