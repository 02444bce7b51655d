// Double-byte text handling: the lead-byte tables the platform's code pages give, and the
// searches that keep the second byte of a double-byte character out of reach.
#include "fixture.h"

#include "settings/dbcs.h"

#include <string>

namespace {

class DbcsTest : public SimTest {
  protected:
    // A table for the code page, in a buffer filled with a marker so stray writes show.
    std::string TableFor(UINT codePage, size_t capacity) {
        sim::SetCodePages(codePage, codePage);
        std::string buffer(kLeadByteTableCapacity, '\x77');
        BuildLeadByteTable(reinterpret_cast<BYTE *>(&buffer[0]), capacity);
        return buffer;
    }
    const BYTE *Table(UINT codePage) {
        sim::SetCodePages(codePage, codePage);
        return BuildLeadByteTable(table_, sizeof table_);
    }
    BYTE table_[kLeadByteTableCapacity];
};

TEST_F(DbcsTest, TableHoldsTheRangesOfCodePage932) {
    std::string expected = std::string("\x81\x9F\xE0\xFC\0", 5) + std::string(11, '\x77');
    EXPECT_EQ(Hex(TableFor(932, kLeadByteTableCapacity)), Hex(expected));
}

TEST_F(DbcsTest, TableOfASingleByteCodePageIsOnlyTheTerminator) {
    std::string expected = std::string("\0", 1) + std::string(15, '\x77');
    EXPECT_EQ(Hex(TableFor(1252, kLeadByteTableCapacity)), Hex(expected));
}

// Each written byte keeps room for the terminator: a small table ends with a dangling start
// or fewer ranges, and nothing lands past its capacity.
TEST_F(DbcsTest, SmallCapacityCutsTheScanAndStaysInside) {
    struct Case {
        size_t capacity;
        std::string expected; // the whole 16-byte buffer
    } cases[] = {
        {0, std::string(16, '\x77')},
        {1, std::string("\0", 1) + std::string(15, '\x77')},
        {3, std::string("\x81\x9F\0", 3) + std::string(13, '\x77')},
        {4, std::string("\x81\x9F\xE0\0", 4) + std::string(12, '\x77')},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Hex(TableFor(932, c.capacity)), Hex(c.expected)) << "capacity " << c.capacity;
}

TEST_F(DbcsTest, IsLeadByteFollowsTheRangeEndsOn932) {
    const BYTE *table = Table(932);
    const struct {
        BYTE value;
        BOOL lead;
    } cases[] = {{0x00, 0}, {0x5C, 0}, {0x80, 0}, {0x81, 1}, {0x95, 1}, {0x9F, 1},
                 {0xA0, 0}, {0xDF, 0}, {0xE0, 1}, {0xFC, 1}, {0xFD, 0}, {0xFF, 0}};
    for (const auto &c : cases)
        EXPECT_EQ(IsLeadByte(c.value, table), c.lead) << "byte " << int(c.value);
}

TEST_F(DbcsTest, DanglingRangeStartMatchesNothing) {
    const BYTE dangling[] = {0x81, 0x9F, 0xE0, 0x00};
    EXPECT_EQ(IsLeadByte(0x90, dangling), TRUE);
    EXPECT_EQ(IsLeadByte(0xE0, dangling), FALSE);
    EXPECT_EQ(IsLeadByte(0xF0, dangling), FALSE);
}

struct SearchCase {
    const char *label;
    UINT codePage;
    std::string text;
    char ch;
    size_t length;
    int last; // offset, -1 for none
};

TEST_F(DbcsTest, FindLastChar) {
    const SearchCase cases[] = {
        {"second byte 0x5C is no backslash", 932, "\x95\x5C\\", '\\', 3, 2},
        {"single-byte page: plain search", 1252, "\x95\x5C\\", '\\', 3, 2},
        {"only the double-byte character", 932, "\x95\x5C", '\\', 2, -1},
        {"lead byte last: its pair is out of reach", 932, "a\x95\\", '\\', 3, -1},
        {"lead byte cut by the length", 932, "a\x95\\", '\\', 2, -1},
        {"three commas", 1252, "a,b,c,d", ',', 7, 5},
        {"three commas between kanji", 932, "\x8A\xBF,\x8E\x9A,\x82\xA0,x", ',', 10, 8},
        {"match beyond the length", 1252, "ab,", ',', 2, -1},
        {"length zero", 1252, ",", ',', 0, -1},
        {"length zero on 932", 932, ",", ',', 0, -1},
    };
    for (const SearchCase &c : cases) {
        const char *text = c.text.c_str();
        const char *last = FindLastChar(text, c.ch, c.length, Table(c.codePage));
        EXPECT_EQ(last ? last - text : -1, c.last) << c.label;
    }
}

TEST_F(DbcsTest, FindTextNoCase) {
    const struct {
        const char *text;
        const char *token;
        size_t length;
        int found;
    } cases[] = {
        {"$DRIVE$", "$DRIVE$", 7, 0},
        {"in $drive$ now", "$DRIVE$", 14, 3},
        {"in $Drive$ now", "$DRIVE$", 14, 3},
        {"$DRIVE $DRIVE$", "$DRIVE$", 14, 7},
        {"ab$DRIVE$", "$DRIVE$", 8, -1}, // the match runs past the length
        {"$DRIVE", "$DRIVE$", 6, -1},    // token longer than the text
        {"$DRIVE$", "$DRIVE$", 0, -1},
        {"$DR1VE$", "$DRIVE$", 7, -1},
        {"abc", "", 0, 0},
    };
    for (const auto &c : cases) {
        const char *found = FindTextNoCase(c.text, c.token, c.length);
        EXPECT_EQ(found ? found - c.text : -1, c.found) << c.text << " / " << c.length;
    }
}

} // namespace
