// The option interpreter: token lists in, the settings record, the language and the termination
// result out; the message template taken apart into prefix, suffix and caption.
#include "fixture.h"

#include "control/messages.h"
#include "settings/dbcs.h"
#include "settings/options.h"
#include "settings/settings.h"
#include "settings/tokens.h"

#include <string>
#include <vector>

namespace {

using Tokens = std::vector<std::string>;

const char *const kAbsent = nullptr;

struct Outcome {
    BOOL terminate;
    int language;
    BOOL forceRefusal, testReport, previewMode;
    DWORD includeMask, excludeMask;
    const char *prefix, *suffix, *caption; // kAbsent or the exact text
};

struct OptionCase {
    Tokens tokens; // entry 0 first
    Outcome expected;
};

// Language starts Japanese so that /E shows.
const Outcome kNothing = {0, kJapanese, 0, 0, 0, 0, 0, kAbsent, kAbsent, kAbsent};

Outcome With(Outcome o, void (*change)(Outcome &)) {
    change(o);
    return o;
}

class OptionsTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        gLanguageIndex = kJapanese;
    }
    // Runs the interpreter over a token table made of `tokens`, laid out as the splitter would.
    BOOL Apply(const Tokens &tokens) {
        std::vector<char *> entries;
        for (const std::string &token : tokens)
            entries.push_back(const_cast<char *>(token.c_str()));
        entries.push_back(nullptr);
        gTokenTable.count = static_cast<int>(tokens.size());
        gTokenTable.entries = entries.data();
        BOOL terminate = ApplyOptions();
        gTokenTable = TokenTable();
        return terminate;
    }
    void ExpectPart(const char *actual, const char *expected, const char *name,
                    const std::string &label) {
        if (expected == kAbsent) {
            EXPECT_EQ(actual, nullptr) << name << " should be absent: " << label;
            return;
        }
        ASSERT_NE(actual, nullptr) << name << " missing: " << label;
        EXPECT_GE(actual, gSettings.templateBuffer) << name;
        EXPECT_LT(actual, gSettings.templateBuffer + kTemplateCapacity) << name;
        EXPECT_EQ(Hex(actual), Hex(expected)) << name << ": " << label;
    }
    void Expect(const Tokens &tokens, const Outcome &want) {
        std::string label;
        for (const std::string &token : tokens)
            label += "[" + token + "] ";
        EXPECT_EQ(Apply(tokens), want.terminate) << label;
        EXPECT_EQ(gLanguageIndex, want.language) << label;
        EXPECT_EQ(gSettings.forceRefusal, want.forceRefusal) << label;
        EXPECT_EQ(gSettings.testReport, want.testReport) << label;
        EXPECT_EQ(gSettings.previewMode, want.previewMode) << label;
        EXPECT_EQ(gSettings.includeMask, want.includeMask) << label;
        EXPECT_EQ(gSettings.excludeMask, want.excludeMask) << label;
        ExpectPart(gSettings.templatePrefix, want.prefix, "prefix", label);
        ExpectPart(gSettings.templateSuffix, want.suffix, "suffix", label);
        ExpectPart(gSettings.customCaption, want.caption, "caption", label);
    }
    void RunCases(const std::vector<OptionCase> &cases) {
        for (const OptionCase &c : cases) {
            ResetProgramState();
            gLanguageIndex = kJapanese;
            BuildLeadByteTable(gLeadByteTable, kLeadByteTableCapacity);
            Expect(c.tokens, c.expected);
        }
    }
};

TEST_F(OptionsTest, FlagsLanguageAndTermination) {
    RunCases({
        {{"SW"}, kNothing},
        {{"/E"}, kNothing}, // entry 0 is never interpreted
        {{"SW", "/e"}, With(kNothing, [](Outcome &o) { o.language = kEnglish; })},
        {{"SW", "/F"}, With(kNothing, [](Outcome &o) { o.forceRefusal = 1; })},
        {{"SW", "/f"}, With(kNothing, [](Outcome &o) { o.forceRefusal = 1; })},
        {{"SW", "/Tabc"}, With(kNothing, [](Outcome &o) { o.testReport = 1; })},
        {{"SW", "/r"}, With(kNothing, [](Outcome &o) { o.terminate = 1; })},
        {{"SW", "/R", "/Rx"}, With(kNothing, [](Outcome &o) { o.terminate = 1; })},
        {{"SW", "/", "/Q", "/ T", "/?", "", "stray"}, kNothing},
        {{"SW", "/M?", "/T"}, With(kNothing, [](Outcome &o) { o.testReport = 1; })},
        {{"SW", "/T", "/M?"}, With(kNothing, [](Outcome &o) { o.previewMode = 1; })},
        {{"SW", "/M?", "/M"}, kNothing},
        {{"SW", "/T", "/M"}, With(kNothing, [](Outcome &o) { o.testReport = 1; })},
    });
}

TEST_F(OptionsTest, DriveLettersAndExclusion) {
    RunCases({
        {{"SW", "a:c:"}, With(kNothing, [](Outcome &o) { o.includeMask = 0x5; })},
        {{"SW", "d:", "D:"}, With(kNothing, [](Outcome &o) { o.includeMask = 0x8; })},
        {{"SW", "z:\\tmp"}, With(kNothing, [](Outcome &o) { o.includeMask = 1u << 25; })},
        {{"SW", "xd:y"}, With(kNothing, [](Outcome &o) { o.includeMask = 0x8; })},
        {{"SW", "1:", ":", "C", "@:", "[:"}, kNothing},
        {{"SW", "/Xd:"}, kNothing}, // an option token is never scanned for drives
        {{"SW", "/Fa:"}, With(kNothing, [](Outcome &o) { o.forceRefusal = 1; })},
        {{"SW", "e:", "/X", "d:", "f:"},
         With(kNothing,
              [](Outcome &o) {
                  o.includeMask = 0x10;
                  o.excludeMask = 0x28;
              })},
        // The second byte of a double-byte character is scanned like any other byte.
        {{"SW", "\x82"
                "C:"},
         With(kNothing, [](Outcome &o) { o.includeMask = 0x4; })},
    });
}

TEST_F(OptionsTest, TemplatesAreTakenApart) {
    RunCases({
        {{"SW", "/MMedia in $DRIVE$ is left"},
         With(kNothing,
              [](Outcome &o) {
                  o.prefix = "Media in  ";
                  o.suffix = " is left";
              })},
        {{"SW", "/M$DRIVE$ holds media"},
         With(kNothing,
              [](Outcome &o) {
                  o.prefix = "";
                  o.suffix = " holds media";
              })},
        {{"SW", "/MIn $DRIVE$ now, please,Look here"},
         With(kNothing,
              [](Outcome &o) {
                  o.prefix = "In  ";
                  o.suffix = " now, please";
                  o.caption = "Look here";
              })},
        {{"SW", "/mIn, $DRIVE$ now,"},
         With(kNothing,
              [](Outcome &o) {
                  o.prefix = "In,  ";
                  o.suffix = " now";
              })},
        {{"SW", "/M?$drive$ left"},
         With(kNothing,
              [](Outcome &o) {
                  o.previewMode = 1;
                  o.prefix = "";
                  o.suffix = " left";
              })},
        {{"SW", "/MA $DRIVE$ B $Drive$ C,Cap"},
         With(kNothing,
              [](Outcome &o) {
                  o.prefix = "A  ";
                  o.suffix = " B $Drive$ C";
                  o.caption = "Cap";
              })},
        {{"SW", "/M$DRIVE$"},
         With(kNothing,
              [](Outcome &o) {
                  o.prefix = "";
                  o.suffix = "";
              })},
        {{"SW", "/M$DRIVE$,Cap"},
         With(kNothing,
              [](Outcome &o) {
                  o.prefix = "";
                  o.suffix = "";
                  o.caption = "Cap";
              })},
        {{"SW", "/M"}, kNothing},
        {{"SW", "/M?"}, With(kNothing, [](Outcome &o) { o.previewMode = 1; })},
        {{"SW", "/Mno token, here"}, kNothing},
        {{"SW", "/M$DRIVE"}, kNothing},
        // A later /M replaces the template, even by one without $DRIVE$.
        {{"SW", "/MX $DRIVE$,Cap", "/Mplain"}, kNothing},
        {{"SW", "/Mplain", "/MX $DRIVE$,Cap"},
         With(kNothing,
              [](Outcome &o) {
                  o.prefix = "X  ";
                  o.suffix = "";
                  o.caption = "Cap";
              })},
    });
}

TEST_F(OptionsTest, TemplateWithoutDriveTokenIsKeptAsCopied) {
    Apply({"SW", "/M?no token"});
    EXPECT_EQ(std::string(gSettings.templateBuffer), "no token");
}

// A template longer than the buffer keeps its first 259 bytes and is taken apart as usual.
TEST_F(OptionsTest, OverlongTemplateIsCutToTheBuffer) {
    BuildLeadByteTable(gLeadByteTable, kLeadByteTableCapacity);
    const std::string body = "A $DRIVE$ " + std::string(300, 'b') + ",Cap";
    Apply({"SW", "/M" + body});
    EXPECT_EQ(std::string(gSettings.templatePrefix), "A  ");
    EXPECT_EQ(std::string(gSettings.templateSuffix), " " + std::string(249, 'b'));
    EXPECT_EQ(gSettings.templateSuffix + 250, gSettings.templateBuffer + 259); // at its terminator
    EXPECT_EQ(gSettings.customCaption, nullptr); // its comma was cut off

    Apply({"SW", "/M" + std::string(255, 'a') + "$DRIVE$ x"});
    EXPECT_EQ(std::string(gSettings.templateBuffer), std::string(255, 'a') + "$DRI");
    EXPECT_EQ(gSettings.templatePrefix, nullptr);
}

// The cut never leaves the first half of a double-byte character at the end.
TEST_F(OptionsTest, OverlongTemplateCutKeepsWholeCharacters) {
    const std::string body = "$DRIVE$" + std::string(251, 'a') + "\x82\xA0" + "tail";
    const struct {
        UINT codePage;
        std::string suffix;
    } cases[] = {
        {932, std::string(251, 'a')},
        {1252, std::string(251, 'a') + "\x82"},
    };
    for (const auto &c : cases) {
        sim::SetCodePages(c.codePage, c.codePage);
        BuildLeadByteTable(gLeadByteTable, kLeadByteTableCapacity);
        Apply({"SW", "/M" + body});
        EXPECT_EQ(Hex(gSettings.templateSuffix), Hex(c.suffix)) << "cp" << c.codePage;
    }
}

} // namespace
