// The bounded text helpers: every write stays within the capacity it is given (a guard byte
// right after the capacity proves it), texts are cut rather than overrun, and the memory
// helpers copy overlapping ranges in the right direction.
#include "common/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char kGuard = '#';

// A buffer of `capacity` bytes filled with `fill`, then a guard byte that no write may touch.
struct Guarded {
    explicit Guarded(size_t capacity, char fill = 'x') : bytes(capacity, fill) {
        bytes.push_back(kGuard);
    }
    char *data() { return &bytes[0]; }
    bool guardIntact() const { return bytes.back() == kGuard; }
    std::string bytes;
};

TEST(TextTest, CopyCutsAtTheCapacity) {
    const struct {
        size_t capacity;
        const char *source;
        size_t length; // returned, and the position of the terminator
    } cases[] = {
        {1, "abc", 0}, {3, "abc", 2}, {4, "abc", 3}, {10, "abc", 3}, {4, "", 0},
    };
    for (const auto &c : cases) {
        Guarded dest(c.capacity);
        EXPECT_EQ(TextCopy(dest.data(), c.capacity, c.source), c.length) << c.capacity;
        EXPECT_EQ(std::string(dest.data()), std::string(c.source, c.length)) << c.capacity;
        EXPECT_TRUE(dest.guardIntact()) << c.capacity;
    }
    Guarded none(0);
    EXPECT_EQ(TextCopy(none.data(), 0, "abc"), 0u);
    EXPECT_TRUE(none.guardIntact()) << "a capacity of 0 writes nothing";
}

TEST(TextTest, AppendCutsAtTheCapacityAndLeavesAnUnterminatedBufferAlone) {
    const struct {
        size_t capacity;
        const char *before;
        const char *source;
        std::string after;
    } cases[] = {
        {8, "ab", "cd", "abcd"},
        {5, "ab", "cdef", "abcd"},
        {3, "ab", "cd", "ab"},
        {4, "", "abcdef", "abc"},
    };
    for (const auto &c : cases) {
        Guarded dest(c.capacity);
        TextCopy(dest.data(), c.capacity, c.before);
        EXPECT_EQ(TextAppend(dest.data(), c.capacity, c.source), c.after.size()) << c.after;
        EXPECT_EQ(std::string(dest.data()), c.after);
        EXPECT_TRUE(dest.guardIntact()) << c.after;
    }
    // No terminator within the capacity: the text there is not ours to extend.
    Guarded full(3);
    EXPECT_EQ(TextAppend(full.data(), 3, "ab"), 3u);
    EXPECT_EQ(full.bytes, "xxx#");
}

// The digits are appended like any other text, cut at the capacity.
TEST(TextTest, AppendDecimalWritesEveryDigitWithinTheCapacity) {
    const struct {
        size_t capacity;
        unsigned long value;
        std::string after;
    } cases[] = {
        {16, 0, "e 0"},    {16, 7, "e 7"}, {16, 1407, "e 1407"}, {16, 4294967295UL, "e 4294967295"},
        {5, 1407, "e 14"}, {3, 9, "e "},
    };
    for (const auto &c : cases) {
        Guarded dest(c.capacity);
        TextCopy(dest.data(), c.capacity, "e ");
        EXPECT_EQ(TextAppendDecimal(dest.data(), c.capacity, c.value), c.after.size()) << c.value;
        EXPECT_EQ(std::string(dest.data()), c.after);
        EXPECT_TRUE(dest.guardIntact()) << c.value;
    }
}

// The copy runs forwards or backwards as the overlap needs, so no byte is read after it was
// overwritten.
TEST(TextTest, MoveCopiesOverlappingRangesIntact) {
    const struct {
        size_t to, from, count;
        const char *result;
    } cases[] = {
        {0, 2, 6, "cdefghgh"}, // down, overlapping
        {2, 0, 6, "ababcdef"}, // up, overlapping
        {1, 1, 4, "abcdefgh"}, // onto itself
        {4, 0, 0, "abcdefgh"}, // nothing
    };
    for (const auto &c : cases) {
        std::string buffer = std::string("abcdefgh") + kGuard;
        MemoryMove(&buffer[c.to], &buffer[c.from], c.count);
        EXPECT_EQ(buffer, std::string(c.result) + kGuard) << c.to << "<-" << c.from;
    }
}

TEST(TextTest, FillWritesExactlyTheCount) {
    Guarded buffer(4);
    MemoryFill(buffer.data(), 0x1FF, 3); // only the low byte counts
    EXPECT_EQ(buffer.bytes, "\xFF\xFF\xFFx#");
}

} // namespace
