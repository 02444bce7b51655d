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
        sim::SetModulePath(u"C:\\SW\\SLOTWARD.EXE");
        Start("C:\\SW\\SLOTWARD.EXE");
    }
};

using WideStrings = std::vector<std::u16string>;

// A file as Windows' own tools write UTF-16: the mark, then the units, low byte first.
std::string Utf16File(const std::u16string &text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

// Which file is opened for which module path, whatever the command line names: the module path
// spells every folder, where the ANSI command line has question marks for what the code page
// lacks.
TEST_F(SettingsFileTest, FileNameFollowsTheModulePath) {
    const struct {
        UINT codePage;
        std::u16string module;
        std::string commandLine;
        WideStrings opened;
    } cases[] = {
        {1252, u"C:\\Tools\\slotward.exe", "slotward /T", {u"C:\\Tools\\slotward.CFG"}},
        {1252, u"C:\\Tools\\sw.com", "C:\\Tools\\sw.com", {u"C:\\Tools\\sw.com.CFG"}},
        {1252, u"C:\\Tools\\SW.EXE.bak", "x", {u"C:\\Tools\\SW.EXE.bak.CFG"}},
        {1252,
         u"C:\\Program Files\\SW\\SLOTWARD.ExE",
         "\"\"",
         {u"C:\\Program Files\\SW\\SLOTWARD.CFG"}},
        {1252, u"C:\\ツール\\SLOTWARD.EXE", "C:\\???\\SLOTWARD.EXE", {u"C:\\ツール\\SLOTWARD.CFG"}},
        // U+0145 and U+0158 end in the bytes of 'E' and 'X': no extension of letters.
        {1252, u"C:\\SW.\u0145\u0158\u0145", "C:\\SW.EXE", {u"C:\\SW.\u0145\u0158\u0145.CFG"}},
        {932, u"C:\\表\\SW.EXE", "C:\\\x95\x5C\\SW.EXE", {u"C:\\表\\SW.CFG"}},
        {1252, u"EXE", "", {u"EXE.CFG"}},
        {1252, u".exe", "", {u".CFG"}},
    };
    for (const auto &c : cases) {
        FreshMachine();
        sim::SetCodePages(c.codePage, c.codePage);
        sim::SetModulePath(c.module);
        Start(c.commandLine);
        EXPECT_TRUE(sim::CreateFileWLog() == c.opened) << c.commandLine;
        EXPECT_TRUE(sim::CreateFileLog().empty()) << c.commandLine;
    }
}

// The file beside the program is read whatever its folder is called, and where the code page
// spells the folder it is the one the ANSI name would have opened.
TEST_F(SettingsFileTest, FolderOutsideTheCodePageOrInItsDoubleBytes) {
    sim::SetModulePath(u"C:\\ツール\\SLOTWARD.EXE");
    sim::AddFileW(u"C:\\ツール\\SLOTWARD.CFG", "/F c:");
    sim::AddFile("C:\\???\\SLOTWARD.CFG", "/T");
    Start("C:\\???\\SLOTWARD.EXE");
    EXPECT_EQ(gSettings.forceRefusal, TRUE);
    EXPECT_EQ(gSettings.testReport, FALSE) << "the question marks' folder";
    EXPECT_EQ(gSettings.includeMask, 0x4u);

    FreshMachine();
    sim::SetCodePages(932, 932);
    sim::SetModulePath(u"C:\\表\\SLOTWARD.EXE");
    sim::AddFile("C:\\\x95\x5C\\SLOTWARD.CFG", "/T");
    Start("SLOTWARD");
    EXPECT_EQ(gSettings.testReport, TRUE);
}

// A path that cannot take .CFG within the 260-unit buffer gives up the file; so does one that
// fills the buffer, which Windows XP returns cut and unterminated and later systems cut.
TEST_F(SettingsFileTest, OverlongPathsGiveUpTheFile) {
    const struct {
        sim::System system;
        std::u16string module;
        size_t openedLength; // 0: no file opened
    } cases[] = {
        {sim::System::WindowsVista, u"C:\\" + std::u16string(252, u'n') + u".EXE", 259},
        {sim::System::WindowsXp, u"C:\\" + std::u16string(252, u'n') + u".EXE", 259},
        {sim::System::WindowsVista, u"C:\\" + std::u16string(253, u'n') + u".EXE", 0},
        {sim::System::WindowsXp, u"C:\\" + std::u16string(253, u'n') + u".EXE", 0},
        {sim::System::WindowsXp, u"C:\\" + std::u16string(300, u'n') + u".EXE", 0},
        {sim::System::WindowsVista, u"C:\\" + std::u16string(252, u'n'), 259}, // 255 + .CFG
        {sim::System::WindowsVista, u"C:\\" + std::u16string(253, u'n'), 0},   // 256 + .CFG: 260
    };
    for (const auto &c : cases) {
        FreshMachine();
        sim::SetSystem(c.system);
        sim::SetModulePath(c.module);
        Start("SLOTWARD.EXE");
        const WideStrings &opened = sim::CreateFileWLog();
        EXPECT_EQ(opened.size(), c.openedLength ? 1u : 0u) << c.module.size();
        if (!opened.empty()) {
            EXPECT_EQ(opened[0].size(), c.openedLength);
        }
    }
    FreshMachine();
    sim::FailCall(sim::Api::GetModuleFileNameW, 1);
    Start("C:\\SLOTWARD.EXE");
    EXPECT_TRUE(sim::CreateFileWLog().empty()) << "no path, no file";
}

TEST_F(SettingsFileTest, FileOptionsApplyAndTheCommandLineOverrides) {
    sim::SetModulePath(u"C:\\SW\\SLOTWARD.EXE");
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
    sim::SetModulePath(u"C:\\SW\\SLOTWARD.EXE");
    sim::AddFile("C:\\SW\\SLOTWARD.CFG", "a: /X b:");
    Start("C:\\SW\\SLOTWARD.EXE c: /X d: a:");
    EXPECT_EQ(gSettings.includeMask, 0x1u | 0x4u);
    EXPECT_EQ(gSettings.excludeMask, 0x1u | 0x2u | 0x8u);
}

TEST_F(SettingsFileTest, TerminationRequestCountsOnlyFromTheCommandLine) {
    sim::SetModulePath(u"C:\\SW\\SLOTWARD.EXE");
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
        // A UTF-8 mark is skipped, and counts among the 255 bytes.
        {"\xEF\xBB\xBF/F\r\nc:", 1, 0, 0x4},
        {"\xEF\xBB\xBF" + std::string(250, ' ') + "c:", 0, 0, 0x4},
        {"\xEF\xBB\xBF" + std::string(251, ' ') + "c:", 0, 0, 0},
        {"\xEF\xBB/F c:", 0, 0, 0x4}, // no whole mark: the bytes stay
        // UTF-16LE: 126 whole units follow the mark in 255 bytes; a zero unit ends the text.
        {Utf16File(u"/F\r\n/T\r\nc:\r\n"), 1, 1, 0x4},
        {Utf16File(std::u16string(124, u' ') + u"c:"), 0, 0, 0x4},
        {Utf16File(std::u16string(125, u' ') + u"c:"), 0, 0, 0},
        {Utf16File(std::u16string(u"/F\0/T c:", 8)), 1, 0, 0},
        {"\xFF\xFE", 0, 0, 0},
        {"\xFE\xFF\0c\0:", 0, 0, 0}, // big-endian: no mark, and a zero byte ends the text
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

// UTF-16 text reaches the options in the ANSI code page, as a file saved in that code page would.
TEST_F(SettingsFileTest, Utf16FileIsConvertedToTheAnsiCodePage) {
    const struct {
        UINT codePage;
        std::u16string text;
        std::string prefix;
    } cases[] = {
        {1252, u"/M\"\u00E9 $DRIVE$\"\r\n", "\xE9  "},
        {932, u"/M\"\u3042 $DRIVE$\"\r\n", "\x82\xA0  "},
    };
    for (const auto &c : cases) {
        FreshMachine();
        sim::SetCodePages(c.codePage == 932 ? 932 : 437, c.codePage);
        LoadWithFile(Utf16File(c.text));
        ASSERT_NE(gSettings.templatePrefix, nullptr) << c.codePage;
        EXPECT_EQ(std::string(gSettings.templatePrefix), c.prefix) << c.codePage;
    }
}

TEST_F(SettingsFileTest, NoFileOrAFailingReadGivesNoOptions) {
    sim::SetModulePath(u"C:\\SW\\SLOTWARD.EXE");
    Start("C:\\SW\\SLOTWARD.EXE");
    EXPECT_TRUE(sim::CreateFileWLog() == WideStrings{u"C:\\SW\\SLOTWARD.CFG"});

    sim::AddFile("C:\\SW\\SLOTWARD.CFG", "/F");
    sim::FailCall(sim::Api::ReadFile, 1);
    Start("C:\\SW\\SLOTWARD.EXE");
    sim::FailCall(sim::Api::CreateFileW, 1);
    Start("C:\\SW\\SLOTWARD.EXE");
    EXPECT_EQ(gSettings.forceRefusal, FALSE);
}

// The load makes the file's entry array and storage, each a GlobalAlloc and a GlobalLock, and
// the table's mutex; the file is opened before, so every failure gives a file without options.
TEST_F(SettingsFileTest, EveryFailureLeavesNoTableAndNoLeak) {
    const struct {
        sim::Api api;
        int nth;
    } cases[] = {
        {sim::Api::GlobalAlloc, 1}, {sim::Api::GlobalAlloc, 2},  {sim::Api::GlobalLock, 1},
        {sim::Api::GlobalLock, 2},  {sim::Api::CreateMutexA, 1},
    };
    for (const auto &c : cases) {
        FreshMachine();
        sim::AddFile("C:\\SLOTWARD.CFG", "/F c:");
        BuildLeadByteTable(gLeadByteTable, kLeadByteTableCapacity);
        sim::FailCall(c.api, c.nth);
        LoadSettingsFile();
        const std::string label = std::to_string(int(c.api)) + " #" + std::to_string(c.nth);
        EXPECT_EQ(sim::CreateFileWLog().size(), 1u) << label;
        EXPECT_EQ(gTokenTable.count, 0) << label;
        EXPECT_EQ(gSettings.forceRefusal, FALSE) << label;
        EXPECT_EQ(gSettings.includeMask, 0u) << label;
        ExpectNothingLeaked();
    }
    // Without failures the same load makes exactly the calls counted above.
    FreshMachine();
    sim::AddFile("C:\\SLOTWARD.CFG", "/F c:");
    LoadSettingsFile();
    EXPECT_EQ(sim::Calls(sim::Api::GlobalAlloc), 2);
    EXPECT_EQ(sim::Calls(sim::Api::GlobalLock), 2);
    EXPECT_EQ(sim::Calls(sim::Api::CreateMutexA), 1);
    EXPECT_EQ(gSettings.forceRefusal, TRUE);
}

} // namespace
