// Netascii text mode: the results the Windows C library's text streams give,
// also when a CR LF pair or the end byte falls between two reads.
#include "engine/text_mode.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/support/temp_dir.h"

namespace {

class TextModeTest : public testing::Test {
  protected:
    std::FILE* open(const std::string& bytes, const char* mode = "rb") {
        std::string path = dir_.write("text.txt", bytes).string();
        file_ = std::fopen(path.c_str(), mode);
        return file_;
    }
    void TearDown() override {
        if (file_) std::fclose(file_);
    }

    // Everything read_text delivers, in reads of `piece` characters.
    std::string read_all(std::size_t piece) {
        std::string out;
        uint8_t buffer[64];
        for (;;) {
            std::size_t n = read_text(file_, buffer, piece);
            out.append(reinterpret_cast<char*>(buffer), n);
            if (n < piece) return out;
        }
    }

    TempDir dir_;
    std::FILE* file_ = nullptr;
};

struct ReadCase {
    const char* name;
    std::string file;
    std::string delivered;
};

TEST_F(TextModeTest, ReadsAsATextStreamInPiecesOfEverySize) {
    const ReadCase cases[] = {
        {"pairs", "a\r\nb\r\n", "a\nb\n"},
        {"lone CR stays", "a\rb\r", "a\rb\r"},
        {"CR before a pair", "a\r\r\nb", "a\r\nb"},
        {"LF alone stays", "a\nb", "a\nb"},
        {"0x1A ends the data",
         std::string("ab\x1A"
                     "cd\r\n",
                     7),
         "ab"},
        {"CR before 0x1A stays",
         std::string("a\r\x1A"
                     "b",
                     4),
         "a\r"},
        {"empty", "", ""},
    };
    for (const ReadCase& c : cases) {
        for (std::size_t piece = 1; piece <= 8; ++piece) {
            SCOPED_TRACE(testing::Message() << c.name << ", pieces of " << piece);
            ASSERT_TRUE(open(c.file));
            EXPECT_EQ(read_all(piece), c.delivered);
            std::fclose(file_);
            file_ = nullptr;
        }
    }
}

TEST_F(TextModeTest, EndByteEndsEveryLaterReadToo) {
    ASSERT_TRUE(
        open(std::string("ab\x1A"
                         "cd",
                         5)));
    uint8_t buffer[8];
    EXPECT_EQ(read_text(file_, buffer, 8), 2u);
    EXPECT_EQ(read_text(file_, buffer, 8), 0u);
    EXPECT_EQ(read_text(file_, buffer, 8), 0u);
}

TEST_F(TextModeTest, CountsTheCharactersDelivered) {
    std::string lines;
    for (int i = 0; i < 2000; ++i) lines += "line of text\r\n";  // crosses the 8192 chunks
    ASSERT_TRUE(open(lines));
    EXPECT_EQ(count_text(file_), lines.size() - 2000);
}

TEST_F(TextModeTest, WritesLineFeedsAsPairs) {
    ASSERT_TRUE(open("", "wb"));
    const std::string data = "one\ntwo\r\n\nend";
    ASSERT_TRUE(write_text(file_, reinterpret_cast<const uint8_t*>(data.data()), data.size()));
    std::fclose(file_);
    file_ = nullptr;
    EXPECT_EQ(dir_.read("text.txt"), "one\r\ntwo\r\r\n\r\nend");
}

TEST_F(TextModeTest, ReportsAFailedWrite) {
    ASSERT_TRUE(open("x", "rb"));
    const uint8_t data[] = {'a', '\n'};
    EXPECT_FALSE(write_text(file_, data, sizeof data));
}

}  // namespace
