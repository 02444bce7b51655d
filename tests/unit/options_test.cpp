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

class OptionsTest : public SimTest {
  protected:
    // The language starts Japanese so that /E shows.
    void SetUp() override {
        SimTest::SetUp();
        FreshRun();
    }
    void FreshRun() {
        ResetProgramState();
        gLanguageIndex = kJapanese;
        BuildLeadByteTable(gLeadByteTable, kLeadByteTableCapacity);
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
};

std::string Label(const Tokens &tokens) {
    std::string label;
    for (const std::string &token : tokens)
        label += "[" + token + "] ";
    return label;
}

TEST_F(OptionsTest, FlagsDrivesLanguageAndTermination) {
    const struct {
        Tokens tokens; // entry 0 first
        BOOL terminate;
        int language;
        BOOL force, test, preview;
        DWORD include, exclude;
        BOOL external = FALSE;
        BOOL quiet = FALSE;
    } cases[] = {
        {{"SW"}, 0, kJapanese, 0, 0, 0, 0, 0},
        {{"/E", "/F"}, 0, kJapanese, 1, 0, 0, 0, 0}, // entry 0 is never interpreted
        {{"SW", "/e"}, 0, kEnglish, 0, 0, 0, 0, 0},
        {{"SW", "/F"}, 0, kJapanese, 1, 0, 0, 0, 0},
        {{"SW", "/f"}, 0, kJapanese, 1, 0, 0, 0, 0},
        {{"SW", "/Tabc"}, 0, kJapanese, 0, 1, 0, 0, 0},
        {{"SW", "/r"}, 1, kJapanese, 0, 0, 0, 0, 0},
        {{"SW", "/R", "/Rx"}, 1, kJapanese, 0, 0, 0, 0, 0},
        {{"SW", "/", "/Z", "/ T", "/?", "", "stray"}, 0, kJapanese, 0, 0, 0, 0, 0},
        {{"SW", "/M?", "/T"}, 0, kJapanese, 0, 1, 0, 0, 0},
        {{"SW", "/T", "/M?"}, 0, kJapanese, 0, 0, 1, 0, 0},
        {{"SW", "/M?", "/M"}, 0, kJapanese, 0, 0, 0, 0, 0},
        {{"SW", "/T", "/M"}, 0, kJapanese, 0, 1, 0, 0, 0},
        {{"SW", "a:c:"}, 0, kJapanese, 0, 0, 0, 0x5, 0},
        {{"SW", "d:", "D:"}, 0, kJapanese, 0, 0, 0, 0x8, 0},
        {{"SW", "z:\\tmp", "xd:y"}, 0, kJapanese, 0, 0, 0, 1u << 25 | 0x8, 0},
        {{"SW", "1:", ":", "C", "@:", "[:"}, 0, kJapanese, 0, 0, 0, 0, 0},
        // An option token is never scanned for drives.
        {{"SW", "/Xd:", "/Fa:"}, 0, kJapanese, 1, 0, 0, 0, 0},
        {{"SW", "e:", "/X", "d:", "f:"}, 0, kJapanese, 0, 0, 0, 0x10, 0x28},
        // The second byte of a double-byte character is scanned like any other byte.
        {{"SW", "\x82\x43:"}, 0, kJapanese, 0, 0, 0, 0x4, 0}, // 0x82 then "C:"
        // /U is a flag like /F: set by either case, whatever follows it, and never cleared.
        {{"SW", "/U"}, 0, kJapanese, 0, 0, 0, 0, 0, 1},
        {{"SW", "/uX", "/T", "/M?", "/E"}, 0, kEnglish, 0, 0, 1, 0, 0, 1},
        {{"SW", "/Uc:", "/X", "/U", "d:"}, 0, kJapanese, 0, 0, 0, 0, 0x8, 1},
        // /Q changes only what a start that finds a copy resident shows; /R still counts.
        {{"SW", "/q", "/R"}, 1, kJapanese, 0, 0, 0, 0, 0, 0, 1},
        {{"SW", "/Quiet", "/T"}, 0, kJapanese, 0, 1, 0, 0, 0, 0, 1},
    };
    for (const auto &c : cases) {
        FreshRun();
        const std::string label = Label(c.tokens);
        EXPECT_EQ(Apply(c.tokens), c.terminate) << label;
        EXPECT_EQ(gLanguageIndex, c.language) << label;
        EXPECT_EQ(gSettings.forceRefusal, c.force) << label;
        EXPECT_EQ(gSettings.testReport, c.test) << label;
        EXPECT_EQ(gSettings.previewMode, c.preview) << label;
        EXPECT_EQ(gSettings.includeMask, c.include) << label;
        EXPECT_EQ(gSettings.excludeMask, c.exclude) << label;
        EXPECT_EQ(gSettings.externalDrives, c.external) << label;
        EXPECT_EQ(gSettings.quietStart, c.quiet) << label;
    }
}

TEST_F(OptionsTest, TemplatesAreTakenApart) {
    const struct {
        Tokens tokens;
        BOOL preview;
        const char *prefix, *suffix, *caption;
    } cases[] = {
        {{"SW", "/MMedia in $DRIVE$ is left"}, 0, "Media in  ", " is left", kAbsent},
        {{"SW", "/M$DRIVE$ holds media"}, 0, "", " holds media", kAbsent},
        {{"SW", "/MIn $DRIVE$ now, please,Look here"}, 0, "In  ", " now, please", "Look here"},
        {{"SW", "/mIn, $DRIVE$ now,"}, 0, "In,  ", " now", kAbsent},
        {{"SW", "/M?$drive$ left"}, 1, "", " left", kAbsent},
        {{"SW", "/MA $DRIVE$ B $Drive$ C,Cap"}, 0, "A  ", " B $Drive$ C", "Cap"},
        {{"SW", "/M$DRIVE$"}, 0, "", "", kAbsent},
        {{"SW", "/M$DRIVE$,Cap"}, 0, "", "", "Cap"},
        {{"SW", "/M"}, 0, kAbsent, kAbsent, kAbsent},
        {{"SW", "/M?"}, 1, kAbsent, kAbsent, kAbsent},
        {{"SW", "/Mno token, here"}, 0, kAbsent, kAbsent, kAbsent},
        {{"SW", "/M$DRIVE"}, 0, kAbsent, kAbsent, kAbsent},
        // A later /M replaces the template, even by one without $DRIVE$.
        {{"SW", "/MX $DRIVE$,Cap", "/Mplain"}, 0, kAbsent, kAbsent, kAbsent},
        {{"SW", "/M?plain", "/MX $DRIVE$,Cap"}, 0, "X  ", "", "Cap"},
    };
    for (const auto &c : cases) {
        FreshRun();
        const std::string label = Label(c.tokens);
        Apply(c.tokens);
        EXPECT_EQ(gSettings.previewMode, c.preview) << label;
        ExpectPart(gSettings.templatePrefix, c.prefix, "prefix", label);
        ExpectPart(gSettings.templateSuffix, c.suffix, "suffix", label);
        ExpectPart(gSettings.customCaption, c.caption, "caption", label);
    }
}

TEST_F(OptionsTest, TemplateWithoutDriveTokenIsKeptAsCopied) {
    Apply({"SW", "/M?no token"});
    EXPECT_EQ(std::string(gSettings.templateBuffer), "no token");
}

// A template longer than the buffer keeps its first 259 bytes and is taken apart as usual.
TEST_F(OptionsTest, OverlongTemplateIsCutToTheBuffer) {
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
