// The argument splitter: command lines and double texts in, token tables out, on a single-byte
// and a double-byte code page, and the memory and the lock accounted for after every split.
#include "fixture.h"

#include "settings/tokens.h"

#include <string>
#include <vector>

namespace {

using Tokens = std::vector<std::string>;

class TokensTest : public SimTest {
  protected:
    // The current table as strings; also checks the null entry after the last one.
    Tokens TableContents() {
        Tokens tokens;
        for (int i = 0; i < gTokenTable.count; i++)
            tokens.push_back(gTokenTable.entries[i]);
        if (gTokenTable.count > 0) {
            EXPECT_EQ(gTokenTable.entries[gTokenTable.count], nullptr) << "no null entry";
        }
        return tokens;
    }
    // Releases the table and proves that it took every block and the lock with it.
    void ReleaseAndExpectClean() {
        ReleaseTokens();
        EXPECT_EQ(gTokenTable.count, 0);
        EXPECT_EQ(gTokenTable.entryBlock, nullptr);
        EXPECT_EQ(gTokenTable.storageBlock, nullptr);
        EXPECT_EQ(gTokenTable.lock, nullptr);
        ExpectNothingLeaked();
    }
};

struct SplitCase {
    UINT codePage;
    std::string commandLine;
    Tokens expected;
};

const SplitCase kSplitCases[] = {
    {1252,
     "\"C:\\Program Files\\SW\\SLOTWARD.EXE\" /T  a:",
     {"\"C:\\Program Files\\SW\\SLOTWARD.EXE\"", "/T", "a:"}},
    {1252, "SLOTWARD.EXE", {"SLOTWARD.EXE"}},
    {1252, "", {""}},
    {1252, " /T", {"", "/T"}},
    {1252, "SW    /T", {"SW", "/T"}},
    {1252,
     "SW /M\"Media in $DRIVE$, remove it,Caption\"",
     {"SW", "/MMedia in $DRIVE$, remove it,Caption"}},
    {1252, "SW a\\\"b", {"SW", "a\"b"}},
    {1252, "SW \"a b\"c", {"SW", "a bc"}},
    {1252, "SW x \"\" y", {"SW", "x", "", "y"}},
    {1252, "SW x \"\"", {"SW", "x"}},
    {1252, "SW x   ", {"SW", "x"}},
    {1252, "SW a\\\\\"b c", {"SW", "a\\\"b", "c"}},
    {1252, "SW a\\b\\\\c \\\\", {"SW", "a\\b\\\\c", "\\\\"}},
    {1252, "SW \"a b  c", {"SW", "a b  c"}},
    {1252, "SW /T\t/F", {"SW", "/T\t/F"}},
    {1252, "\"C:\\SW.EXE\"/T x", {"\"C:\\SW.EXE\"", "T", "x"}},
    {1252, "\"C:\\A B\\SW.EXE\"", {"\"C:\\A B\\SW.EXE\""}},
    {1252, "\"C:\\A B\\SW.EXE /T", {"\"C:\\A B\\SW.EXE /T"}},
    {1252, "SW\"x y\" /T", {"SW\"x", "y /T"}},
    // The same bytes on both pages: on 932 0x95 0x5C is one character and the quote groups;
    // on 1252 the 0x5C is a backslash that makes the quote literal.
    {932,
     "SW \x95\x5C\"a b\"",
     {"SW", "\x95\x5C"
            "a b"}},
    {1252, "SW \x95\x5C\"a b\"", {"SW", "\x95\"a", "b"}},
    {932, "SW \x95 x", {"SW", "\x95 x"}},
    {932, "SW x \x95", {"SW", "x", "\x95"}},
    {932, "\"C:\\\x95\x5C\\SW.EXE\" /F", {"\"C:\\\x95\x5C\\SW.EXE\"", "/F"}},
};

TEST_F(TokensTest, SplitsCommandLines) {
    for (const SplitCase &c : kSplitCases) {
        sim::SetCodePages(c.codePage, c.codePage);
        sim::SetCommandLine(c.commandLine);
        SplitCommandLine();
        EXPECT_EQ(TableContents(), c.expected) << "cp" << c.codePage << ": " << c.commandLine;
        ReleaseAndExpectClean();
    }
}

// The settings file's text comes with an empty program name in front.
TEST_F(TokensTest, SplitsDoubleTexts) {
    const struct {
        std::string doubleText;
        Tokens expected;
    } cases[] = {
        {std::string("\0/F a:", 7), {"", "/F", "a:"}},
        {std::string("\0", 2), {""}},
        {std::string("\0   ", 5), {""}},
        {std::string("SW\0/T", 6), {"SW", "/T"}},
        // The most tokens the text can hold: the entry array's worst case.
        {std::string("\0a b c d e", 11), {"", "a", "b", "c", "d", "e"}},
        {std::string("\0\"\" \"\" \"\" ", 11), {"", "", "", ""}},
    };
    for (const auto &c : cases) {
        TokenizeArguments(c.doubleText.data());
        EXPECT_EQ(TableContents(), c.expected) << Hex(c.doubleText);
        ReleaseAndExpectClean();
    }
}

// While a table lives, its two blocks stay locked and the lock exists; the command line's
// temporary copy is already gone.
TEST_F(TokensTest, TableHoldsTwoLockedBlocksAndTheMutex) {
    sim::SetCommandLine("SW /T");
    SplitCommandLine();
    EXPECT_EQ(sim::LiveGlobalBlocks(), 2);
    EXPECT_EQ(sim::LockedGlobalBlocks(), 2);
    EXPECT_EQ(ProgramHandles(), 1);
    ReleaseAndExpectClean();
}

TEST_F(TokensTest, SecondSplitReplacesTheTableAndReusesTheMutex) {
    TokenizeArguments(std::string("\0/A /B", 7).data());
    TokenizeArguments(std::string("\0/C", 4).data());
    EXPECT_EQ(TableContents(), (Tokens{"", "/C"}));
    EXPECT_EQ(sim::LiveGlobalBlocks(), 2);
    EXPECT_EQ(sim::Calls(sim::Api::CreateMutexA), 1);
    ReleaseAndExpectClean();
}

TEST_F(TokensTest, ReleaseWithoutTableCreatesNothing) {
    ReleaseTokens();
    EXPECT_EQ(sim::Calls(sim::Api::CreateMutexA), 0);
    EXPECT_EQ(gTokenTable.count, 0);
    ExpectNothingLeaked();
}

// SplitCommandLine allocates and locks three blocks in turn: the command line's copy, the
// entry array and the storage. A failure at any of them, or of the mutex, leaves no table.
TEST_F(TokensTest, EveryAllocationFailureLeavesNoTableAndNoLeak) {
    sim::SetCommandLine("SW /T a:");
    SplitCommandLine();
    const int allocations = sim::Calls(sim::Api::GlobalAlloc);
    const int locks = sim::Calls(sim::Api::GlobalLock);
    ASSERT_EQ(allocations, 3);
    ASSERT_EQ(locks, 3);
    ReleaseAndExpectClean();

    const struct {
        sim::Api api;
        int calls;
    } points[] = {{sim::Api::GlobalAlloc, allocations},
                  {sim::Api::GlobalLock, locks},
                  {sim::Api::CreateMutexA, 1}};
    for (const auto &point : points) {
        for (int nth = 1; nth <= point.calls; nth++) {
            sim::FailCall(point.api, nth);
            SplitCommandLine();
            EXPECT_EQ(gTokenTable.count, 0) << int(point.api) << " #" << nth;
            EXPECT_EQ(gTokenTable.entries, nullptr);
            EXPECT_EQ(sim::LiveGlobalBlocks(), 0) << "a block outlived the failed split";
            ReleaseAndExpectClean();
        }
    }
}

} // namespace
