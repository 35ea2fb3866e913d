// Reading a debug text from the debugged program's memory: whole, whatever
// its length or place, and never a read past the memory it occupies.
#include "debug_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::uintptr_t kPage = 4096;
const std::uintptr_t kBase = 0x10000;

// Readable memory from kBase, in whole pages; any read reaching past its end
// fails.
struct FakeMemory {
    std::string bytes;

    ReadMemory Reader() const
    {
        return [this](std::uintptr_t address, void *buffer, std::size_t size) {
            if (address < kBase || address - kBase + size > bytes.size())
                return false;
            bytes.copy(static_cast<char *>(buffer), size, address - kBase);
            return true;
        };
    }
};

std::string Letters(std::size_t length)
{
    std::string text;
    for (std::size_t i = 0; i < length; ++i)
        text += static_cast<char>('a' + i % 26);
    return text;
}

// Pages holding `text` at `offset`, the rest filled with non-zero bytes.
FakeMemory Holding(std::size_t offset, const std::string &text)
{
    std::size_t end = offset + text.size();
    std::size_t pages = (end + kPage - 1) / kPage;
    return FakeMemory{std::string(offset, '\x7f') + text + std::string(pages * kPage - end, '\x7f')};
}

struct Case {
    const char *name;
    std::size_t offset;
    std::string text;  // with its terminator
    bool unicode;
    std::string expected;
};

// Test names and failure messages show the row's name, not its bytes.
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

std::string Utf16(const std::string &ascii)
{
    std::string bytes;
    for (char c : ascii)
        bytes += std::string{c, '\0'};
    return bytes;
}

const Case kCases[] = {
    {"short", 0, std::string("ok\n", 4), false, "ok\n"},
    {"ends_in_the_last_byte_of_a_page", kPage - 600, Letters(599) + '\0', false, Letters(599)},
    {"crosses_pages_and_ends_in_the_last_byte", kPage - 10, Letters(3 * kPage - 1) + '\0', false,
     Letters(3 * kPage - 1)},
    {"longer_than_the_16_bit_length_field", 7, Letters(70000) + '\0', false, Letters(70000)},
    {"empty", 0, std::string(1, '\0'), false, ""},
    {"unterminated_up_to_unreadable_memory", 5, Letters(2 * kPage - 5), false, Letters(2 * kPage - 5)},
    {"utf16_zero_bytes_inside_characters", 0, std::string("A\0\0A\0\0", 6), true, std::string("A\0\0A", 4)},
    {"utf16_odd_address_terminator_across_pages", kPage - 5, Utf16("ab") + std::string(2, '\0'), true,
     Utf16("ab")},
    {"utf16_unterminated_keeps_whole_characters", kPage - 7, Utf16("abc") + "x", true, Utf16("abc")},
};

class ReadDebugTextTest : public testing::TestWithParam<Case> {};

TEST_P(ReadDebugTextTest, ReadsWholeText)
{
    const Case &c = GetParam();
    FakeMemory memory = Holding(c.offset, c.text);
    EXPECT_EQ(ReadDebugText(kBase + c.offset, c.unicode, memory.Reader()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, ReadDebugTextTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

TEST(ReadDebugText, StopsAtTheLimitInEndlessMemory)
{
    ReadMemory endless = [](std::uintptr_t, void *buffer, std::size_t size) {
        std::fill_n(static_cast<char *>(buffer), size, 'x');
        return true;
    };
    std::string text = ReadDebugText(kBase, false, endless);
    EXPECT_GE(text.size(), kDebugTextLimit);
    EXPECT_LT(text.size(), kDebugTextLimit + kPage);
}

}  // namespace
