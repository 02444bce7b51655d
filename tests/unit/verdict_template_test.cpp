// The verdict with a user template: which parts replace which built-in texts, and what happens
// when a template and a long drive list together do not fit the report buffer.
#include "check_support.h"

#include "check/survey.h"
#include "check/verdict.h"
#include "settings/dbcs.h"
#include "settings/settings.h"

#include <cstring>
#include <string>

namespace {

const UINT kQuestionStyle = 0x1114;
const UINT kRefusalStyle = 0x1010;

const char *const kAbsent = nullptr;

struct TemplateCase {
    const char *name;
    int language;
    BOOL preview; // with forced refusal: the refusal box shown at once
    const char *prefix;
    const char *suffix;
    const char *caption;
    std::string text;
    std::string boxCaption;
};

class VerdictTemplateTest : public SimTest {};

TEST_F(VerdictTemplateTest, TemplateParts) {
    const int en = kEnglish, ja = kJapanese;
    const TemplateCase cases[] = {
        {"no template", en, FALSE, kAbsent, kAbsent, kAbsent,
         "In drive D: , the media is still inserted. Do you want to continue shutdown processing?",
         "SLOTWARD:Warning!"},
        {"prefix and suffix", en, FALSE, "Take out  ", " please", kAbsent, "Take out  D:  please",
         "SLOTWARD:Warning!"},
        {"empty prefix", en, FALSE, "", " is still full", kAbsent, "D:  is still full",
         "SLOTWARD:Warning!"},
        {"empty suffix", en, FALSE, "Remove  ", "", kAbsent, "Remove  D: ", "SLOTWARD:Warning!"},
        {"empty prefix and suffix", en, FALSE, "", "", "Drives", "D: ", "Drives"},
        {"custom caption", en, FALSE, "Take out  ", " please", "Drive check",
         "Take out  D:  please", "Drive check"},
        {"refusal with template", en, TRUE, "Eject  ", "!", "Stop", "Eject  A: !", "Stop"},
        {"refusal, caption only", en, TRUE, "", "", "Stop", "A: ", "Stop"},
        {"refusal without caption", en, TRUE, "Eject  ", "!", kAbsent, "Eject  A: !",
         "SLOTWARD:Error!"},
        {"Japanese built-in caption", ja, FALSE, "Take out  ", " please", kAbsent,
         "Take out  D:  please", Compose(ja, {CaptionWarning})},
        {"Japanese built-in suffix", ja, FALSE, "Take out  ", kAbsent, kAbsent,
         Compose(ja, {"Take out  D: ", MsgAskContinue}), Compose(ja, {CaptionWarning})},
        {"Japanese built-in prefix", ja, TRUE, kAbsent, "!", kAbsent,
         Compose(ja, {MsgInDrive, "A: !"}), Compose(ja, {CaptionError})},
    };
    for (const TemplateCase &c : cases) {
        ResetProgramState();
        gLanguageIndex = c.language;
        gSettings.previewMode = c.preview;
        gSettings.forceRefusal = c.preview;
        UseTemplate(c.prefix, c.suffix, c.caption);
        sim::AddDrive('D', DRIVE_CDROM, sim::Medium::Files);
        sim::ScriptBoxAnswers({IDNO});
        CheckMedia(NULL);
        ExpectBoxes({{NULL, c.text, c.boxCaption, c.preview ? kRefusalStyle : kQuestionStyle}},
                    c.name);
        NextCase(c.name);
    }
}

// The custom caption also heads the refusal box shown later from the posted message.
TEST_F(VerdictTemplateTest, PostedRefusalUsesCustomCaption) {
    gSettings.forceRefusal = TRUE;
    UseTemplate("Eject  ", " first", "Hold on");
    sim::AddDrive('E', DRIVE_REMOVABLE, sim::Medium::Files);
    gHiddenWindow = CreateRecordingWindow();
    EXPECT_EQ(CheckMedia(gHiddenWindow), 1);
    EXPECT_EQ(PumpRecordedMessages().size(), 1u);
    sim::ScriptBoxAnswers({IDOK});
    ShowRefusal(gHiddenWindow);
    ExpectBoxes({{gHiddenWindow, "Eject  E:  first", "Hold on", kRefusalStyle}}, "posted refusal");
    DestroyWindow(gHiddenWindow);
}

struct OverflowCase {
    const char *name;
    std::string prefix;
    std::string suffix;
};

// The longest prefix a template can leave is 252 typed bytes and its extra space; the longest
// suffix 252 bytes. With all 26 drives holding media neither fits: the text is cut at 259 bytes
// and the box still shows.
TEST_F(VerdictTemplateTest, CompositionCutAtCapacity) {
    std::string allDrives;
    for (char letter = 'A'; letter <= 'Z'; letter++)
        allDrives += std::string(1, letter) + ": ";
    const OverflowCase cases[] = {
        {"long prefix", std::string(252, 'p') + " ", ""},
        {"long suffix", "", std::string(252, 's')},
        {"cut inside the list", std::string(200, 'p') + " ", " end"},
    };
    for (const OverflowCase &c : cases) {
        ResetProgramState();
        for (char letter = 'A'; letter <= 'Z'; letter++)
            sim::AddDrive(letter, DRIVE_REMOVABLE, sim::Medium::Files);
        UseTemplate(c.prefix.c_str(), c.suffix.c_str(), "Full");
        std::memset(gReportText, 'x', sizeof gReportText);
        sim::ScriptBoxAnswers({IDYES});
        EXPECT_EQ(CheckMedia(NULL), IDYES) << c.name;
        std::string whole = c.prefix + allDrives + c.suffix;
        ASSERT_GT(whole.size(), 259u) << c.name;
        ExpectBoxes({{NULL, whole.substr(0, 259), "Full", kQuestionStyle}}, c.name);
        EXPECT_EQ(gReportText[259], '\0') << c.name;
        NextCase(c.name);
    }
}

// On a double-byte code page a cut never leaves half a character at the end of the text.
TEST_F(VerdictTemplateTest, CutEndsOnWholeCharacter) {
    sim::SetCodePages(932, 932);
    BuildLeadByteTable(gLeadByteTable, kLeadByteTableCapacity);
    std::string suffix;
    while (suffix.size() < 250)
        suffix += "\x82\xA0";                            // a hiragana letter, two bytes
    UseTemplate("Eject  ", suffix.c_str(), kAbsent);     // 10 bytes before the suffix: the cut at
    sim::AddDrive('D', DRIVE_CDROM, sim::Medium::Files); // 259 falls inside a character
    sim::ScriptBoxAnswers({IDNO});
    CheckMedia(NULL);
    ASSERT_EQ(sim::Boxes().size(), 1u);
    EXPECT_EQ(sim::Boxes()[0].text, ("Eject  D: " + suffix).substr(0, 258));
}

// Exactly at the capacity nothing is lost.
TEST_F(VerdictTemplateTest, CompositionOfExactlyCapacityKept) {
    std::string prefix(259 - 3 - 2, 'p');
    prefix += " ";
    UseTemplate(prefix.c_str(), "!", kAbsent);
    sim::AddDrive('D', DRIVE_CDROM, sim::Medium::Files);
    sim::ScriptBoxAnswers({IDNO});
    EXPECT_EQ(CheckMedia(NULL), IDNO);
    ASSERT_EQ(sim::Boxes().size(), 1u);
    EXPECT_EQ(sim::Boxes()[0].text.size(), 259u);
    EXPECT_EQ(sim::Boxes()[0].text.substr(254), " D: !");
}

} // namespace
