// The verdict and report with the built-in texts: the test report, the shutdown question and
// its answers, the preview, and forced refusal, in English and in Japanese.
#include "check_support.h"

#include "check/survey.h"
#include "check/verdict.h"
#include "settings/settings.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

using sim::Medium;

const UINT kReportStyle = 0x40;
const UINT kQuestionStyle = 0x1114;
const UINT kRefusalStyle = 0x1010;

const char kAskEnglish[] =
    ", the media is still inserted. Do you want to continue shutdown processing?";
const char kRetryEnglish[] =
    ", the media is still inserted. Please remove it and try again shutdown processing.";

struct Drive {
    char letter;
    UINT type;
    Medium medium;
};

void AddDrives(const std::vector<Drive> &drives) {
    for (const Drive &drive : drives)
        sim::AddDrive(drive.letter, drive.type, drive.medium);
}

const std::vector<Drive> kNoDrives = {};
const std::vector<Drive> kFixedOnly = {{'C', DRIVE_FIXED, Medium::Files}};
const std::vector<Drive> kAllEmpty = {{'A', DRIVE_REMOVABLE, Medium::None},
                                      {'C', DRIVE_FIXED, Medium::Files},
                                      {'D', DRIVE_CDROM, Medium::None}};
const std::vector<Drive> kEmptyAndFull = {{'A', DRIVE_REMOVABLE, Medium::None},
                                          {'C', DRIVE_FIXED, Medium::Files},
                                          {'D', DRIVE_CDROM, Medium::Files},
                                          {'E', DRIVE_REMOVABLE, Medium::Files}};
const std::vector<Drive> kCdWithDisc = {{'D', DRIVE_CDROM, Medium::Files}};

class VerdictTest : public SimTest {};

struct ReportCase {
    const char *name;
    int language;
    std::vector<Drive> drives;
    DWORD includeMask;
    std::string text;
};

TEST_F(VerdictTest, TestReport) {
    const int en = kEnglish, ja = kJapanese;
    const ReportCase cases[] = {
        {"no drives", en, kNoDrives, 0, "There is not the removable drive."},
        {"fixed disk only", en, kFixedOnly, 0, "There is not the removable drive."},
        {"all empty", en, kAllEmpty, 0, "In drive A: D: , the media is not inserted."},
        {"media only", en, kCdWithDisc, 0, "In drive D: , the media is still inserted."},
        {"empty sentence first", en, kEmptyAndFull, 0,
         "In drive A: , the media is not inserted.In drive D: E: , the media is still inserted."},
        {"included fixed disk", en, kFixedOnly, 1u << 2,
         "In drive C: , the media is still inserted."},
        {"no drives", ja, kNoDrives, 0, Compose(ja, {MsgNoRemovableDrive})},
        {"all empty", ja, kAllEmpty, 0, Compose(ja, {MsgInDrive, "A: D: ", MsgNotInserted})},
        {"empty sentence first", ja, kEmptyAndFull, 0,
         Compose(ja, {MsgInDrive, "A: ", MsgNotInserted, MsgInDrive, "D: E: ", MsgStillInserted})},
    };
    for (const ReportCase &c : cases) {
        gSettings.testReport = TRUE;
        gSettings.includeMask = c.includeMask;
        gLanguageIndex = c.language;
        AddDrives(c.drives);
        sim::ScriptBoxAnswers({IDOK});
        CheckMedia(NULL);
        std::string label = std::string(c.name) + (c.language == ja ? " (ja)" : " (en)");
        ExpectBoxes({{NULL, c.text, Compose(c.language, {CaptionInformation}), kReportStyle}},
                    label);
        NextCase(label);
    }
}

// Pinned bytes, so that a catalogue fault and a composition fault cannot cancel out.
TEST_F(VerdictTest, JapaneseTestReportBytes) {
    gSettings.testReport = TRUE;
    gLanguageIndex = kJapanese;
    AddDrives({{'A', DRIVE_REMOVABLE, Medium::None}, {'D', DRIVE_CDROM, Medium::Files}});
    sim::ScriptBoxAnswers({IDOK});
    CheckMedia(NULL);
    ASSERT_EQ(sim::Boxes().size(), 1u);
    EXPECT_EQ(Hex(sim::Boxes()[0].text),
              "83 68 83 89 83 43 83 75 20 41 3A 20 82 C9 83 81 83 66 83 42 83 41 82 CD 91 7D 93 "
              "FC 82 B3 82 EA 82 C4 82 A2 82 DC 82 B9 82 F1 81 42 83 68 83 89 83 43 83 75 20 44 "
              "3A 20 82 C9 83 81 83 66 83 42 83 41 82 AA 8E 63 82 C1 82 C4 82 A2 82 DC 82 B7 81 "
              "42 ");
    EXPECT_EQ(Hex(sim::Boxes()[0].caption), "53 4C 4F 54 57 41 52 44 3A 8F EE 95 F1 ");
}

// The report uses the built-in texts only and never refuses or posts anything.
TEST_F(VerdictTest, TestReportIgnoresTemplateAndForcedRefusal) {
    gSettings.testReport = TRUE;
    gSettings.forceRefusal = TRUE;
    UseTemplate("Take out  ", " now", "Custom");
    AddDrives(kCdWithDisc);
    sim::ScriptBoxAnswers({IDOK});
    CheckMedia(NULL);
    ExpectBoxes({{NULL, "In drive D: , the media is still inserted.", "SLOTWARD:Information",
                  kReportStyle}},
                "report with template");
    EXPECT_EQ(sim::Calls(sim::Api::PostMessageA), 0);
}

struct QuestionCase {
    const char *name;
    int language;
    std::vector<Drive> drives;
    int answer; // scripted box answer; -1 when no box may appear
    int result;
    std::string text; // empty when no box may appear
};

TEST_F(VerdictTest, ShutdownQuestionAndResults) {
    const int en = kEnglish, ja = kJapanese;
    const std::string enDE = std::string("In drive D: E: ") + kAskEnglish;
    const QuestionCase cases[] = {
        {"no drives: consent without a box", en, kNoDrives, -1, IDYES, ""},
        {"all empty: consent without a box", en, kAllEmpty, -1, IDYES, ""},
        {"Yes lets the session end", en, kEmptyAndFull, IDYES, IDYES, enDE},
        {"No refuses", en, kEmptyAndFull, IDNO, IDNO, enDE},
        {"a failed box is returned as it is", en, kEmptyAndFull, 0, 0, enDE},
        {"Japanese question", ja, kEmptyAndFull, IDNO, IDNO,
         Compose(ja, {MsgInDrive, "D: E: ", MsgAskContinue})},
    };
    for (const QuestionCase &c : cases) {
        gLanguageIndex = c.language;
        AddDrives(c.drives);
        HWND owner = CreateRecordingWindow();
        if (c.answer >= 0)
            sim::ScriptBoxAnswers({c.answer});
        EXPECT_EQ(CheckMedia(owner), c.result) << c.name;
        std::vector<ExpectedBox> boxes;
        if (!c.text.empty())
            boxes.push_back({owner, c.text, Compose(c.language, {CaptionWarning}), kQuestionStyle});
        ExpectBoxes(boxes, c.name);
        EXPECT_EQ(sim::Calls(sim::Api::PostMessageA), 0) << c.name;
        DestroyWindow(owner);
        ExpectNothingLeaked();
        NextCase(c.name);
    }
}

TEST_F(VerdictTest, JapaneseQuestionBytes) {
    gLanguageIndex = kJapanese;
    AddDrives(kEmptyAndFull);
    sim::ScriptBoxAnswers({IDNO});
    CheckMedia(NULL);
    ASSERT_EQ(sim::Boxes().size(), 1u);
    EXPECT_EQ(Hex(sim::Boxes()[0].text),
              "83 68 83 89 83 43 83 75 20 44 3A 20 45 3A 20 82 C9 83 81 83 66 83 42 83 41 82 AA "
              "8E 63 82 C1 82 C4 82 A2 82 DC 82 B7 81 42 83 56 83 83 83 62 83 67 83 5F 83 45 83 "
              "93 8F 88 97 9D 82 F0 91 B1 8D 73 82 B5 82 DC 82 B7 82 A9 81 48 ");
    EXPECT_EQ(Hex(sim::Boxes()[0].caption), "53 4C 4F 54 57 41 52 44 3A 8C 78 8D 90 81 49 ");
}

struct PreviewCase {
    const char *name;
    int language;
    BOOL forceRefusal;
    int answer;
    int result;
    ExpectedBox box;
};

// The preview shows the box for the sample drive A without asking the platform about any drive,
// even with a disc in drive D and no drive A at all.
TEST_F(VerdictTest, Preview) {
    const int en = kEnglish, ja = kJapanese;
    const PreviewCase cases[] = {
        {"question",
         en,
         FALSE,
         IDNO,
         IDNO,
         {NULL, std::string("In drive A: ") + kAskEnglish, "SLOTWARD:Warning!", kQuestionStyle}},
        {"question, Yes",
         en,
         FALSE,
         IDYES,
         IDYES,
         {NULL, std::string("In drive A: ") + kAskEnglish, "SLOTWARD:Warning!", kQuestionStyle}},
        {"forced refusal shows the box at once",
         en,
         TRUE,
         IDOK,
         1,
         {NULL, std::string("In drive A: ") + kRetryEnglish, "SLOTWARD:Error!", kRefusalStyle}},
        {"forced refusal, failed box",
         en,
         TRUE,
         0,
         1,
         {NULL, std::string("In drive A: ") + kRetryEnglish, "SLOTWARD:Error!", kRefusalStyle}},
        {"Japanese forced refusal",
         ja,
         TRUE,
         IDOK,
         1,
         {NULL, Compose(ja, {MsgInDrive, "A: ", MsgRemoveAndRetry}), Compose(ja, {CaptionError}),
          kRefusalStyle}},
    };
    for (const PreviewCase &c : cases) {
        gSettings.previewMode = TRUE;
        gSettings.forceRefusal = c.forceRefusal;
        gLanguageIndex = c.language;
        AddDrives(kCdWithDisc);
        std::memcpy(gEmptyList, "Q: ", 4);
        sim::ScriptBoxAnswers({c.answer});
        EXPECT_EQ(CheckMedia(NULL), c.result) << c.name;
        ExpectBoxes({c.box}, c.name);
        EXPECT_TRUE(sim::ProbePatterns().empty()) << c.name;
        EXPECT_TRUE(sim::TypeQueryRoots().empty()) << c.name;
        EXPECT_EQ(sim::Calls(sim::Api::PostMessageA), 0) << c.name;
        EXPECT_STREQ(gEmptyList, "Q: ") << c.name << ": the preview leaves the empty list alone";
        NextCase(c.name);
    }
}

// The query is refused at once; the box waits for the posted message, and shows the text left
// in gReportText, owned by the hidden window.
TEST_F(VerdictTest, ForcedRefusalInResidentModePosts) {
    gSettings.forceRefusal = TRUE;
    AddDrives(kEmptyAndFull);
    gHiddenWindow = CreateRecordingWindow();
    ASSERT_NE(gHiddenWindow, (HWND)NULL);

    EXPECT_EQ(CheckMedia(gHiddenWindow), 1);
    EXPECT_TRUE(sim::Boxes().empty());
    std::vector<PostedMessage> posted = PumpRecordedMessages();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].window, gHiddenWindow);
    EXPECT_EQ(posted[0].message, static_cast<UINT>(WMU_SHOW_REFUSAL));
    EXPECT_EQ(posted[0].wParam, 0u);
    EXPECT_EQ(posted[0].lParam, 0);

    sim::ScriptBoxAnswers({IDOK});
    ShowRefusal(gHiddenWindow);
    ExpectBoxes({{gHiddenWindow, std::string("In drive D: E: ") + kRetryEnglish, "SLOTWARD:Error!",
                  kRefusalStyle}},
                "refusal shown later");
    DestroyWindow(gHiddenWindow);
    ExpectNothingLeaked();
}

TEST_F(VerdictTest, ForcedRefusalWithoutMediaConsents) {
    gSettings.forceRefusal = TRUE;
    AddDrives(kAllEmpty);
    gHiddenWindow = CreateRecordingWindow();
    EXPECT_EQ(CheckMedia(gHiddenWindow), IDYES);
    EXPECT_TRUE(PumpRecordedMessages().empty());
    EXPECT_TRUE(sim::Boxes().empty());
    DestroyWindow(gHiddenWindow);
}

} // namespace
