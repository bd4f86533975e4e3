// The printed log's pages: lines per page, the pages of a file, the order of
// copies, and what a failure part-way leaves.
#include "panel/print_pages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr int kLineHeight = 10;

// Lines "1", "2", ... of a file; the file may fail at a line, grow or shrink
// before it is read again, or not open again.
class FakeLines : public PrintedLines {
  public:
    int count = 0;
    int failAt = 0;       // the read of this line fails (0: none)
    int countAgain = -1;  // lines when read again (-1: the same)
    bool reopens = true;

    Read next(std::string* line) override {
        if (next_ == failAt) return Read::kFailed;
        if (next_ > count) return Read::kEnd;
        *line = std::to_string(next_++);
        return Read::kLine;
    }
    bool restart() override {
        next_ = 1;
        if (countAgain >= 0) count = countAgain;
        return reopens;
    }

  private:
    int next_ = 1;
};

// Writes each page as "N[first-last]", e.g. "1[1-60] 2[61]"; a header or line
// out of place shows as "?".
class Recorder : public PrintSurface {
  public:
    int failStartAt = 0;  // start_page of this page fails
    int failEndAt = 0;
    std::string pages;

    bool start_page() override {
        ++started_;
        if (started_ == failStartAt) return false;
        lines_.clear();
        header_.clear();
        return true;
    }
    void text(int y, std::string_view text) override {
        if (y == 0 && header_.empty() && lines_.empty()) {
            header_ = text;
        } else if (y == (2 + static_cast<int>(lines_.size())) * kLineHeight) {
            lines_.emplace_back(text);
        } else {
            lines_.emplace_back("?");
        }
    }
    bool end_page() override {
        if (!pages.empty()) pages += ' ';
        std::string prefix = "log  --  ";
        pages += header_.rfind(prefix, 0) == 0 ? header_.substr(prefix.size()) : "?";
        pages += '[';
        if (!lines_.empty()) pages += lines_.front();
        if (lines_.size() > 1) pages += '-' + lines_.back();
        pages += ']';
        return started_ != failEndAt;
    }

  private:
    int started_ = 0;
    std::string header_;
    std::vector<std::string> lines_;
};

TEST(PrintPagesTest, LayoutOfAPage) {
    struct Case {
        int pageHeight, lineHeight;
        bool ok;
        int textLines, pageLimit;
    };
    const Case cases[] = {
        {620, 10, true, 60, 500},   {629, 10, true, 60, 500}, {30, 10, true, 1, 30000},
        {6600, 100, true, 64, 469}, {29, 10, false, 0, 0},    {100, 0, false, 0, 0},
        {100, -5, false, 0, 0},     {0, 10, false, 0, 0},     {3000, 1, true, 2998, 11},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pageHeight << "/" << c.lineHeight);
        PageLayout layout;
        ASSERT_EQ(page_layout(c.pageHeight, c.lineHeight, &layout), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(layout.lineHeight, c.lineHeight);
        EXPECT_EQ(layout.textLines, c.textLines);
        EXPECT_EQ(layout.pageLimit, c.pageLimit);
    }
    EXPECT_EQ(page_header("tftp240305.log", 12), "tftp240305.log  --  12");
}

TEST(PrintPagesTest, PagesAndCopies) {
    struct Case {
        const char* what;
        int lines, textLines, copies;
        bool collate;
        int countAgain;
        const char* pages;
    };
    const Case cases[] = {
        {"one full page", 60, 60, 1, true, -1, "1[1-60]"},
        {"one line over", 61, 60, 1, true, -1, "1[1-60] 2[61]"},
        {"empty file", 0, 60, 1, true, -1, "1[]"},
        {"one line a page", 3, 1, 1, true, -1, "1[1] 2[2] 3[3]"},
        {"collated", 61, 60, 2, true, -1, "1[1-60] 2[61] 1[1-60] 2[61]"},
        {"not collated", 61, 60, 2, false, -1, "1[1-60] 1[1-60] 2[61] 2[61]"},
        {"empty, two copies", 0, 60, 2, true, -1, "1[] 1[]"},
        {"no copies asked", 2, 60, 0, true, -1, "1[1-2]"},
        {"grown before the copy", 3, 2, 2, true, 5, "1[1-2] 2[3] 1[1-2] 2[3]"},
        {"line limit", 30001, 10000, 1, true, -1, "1[1-10000] 2[10001-20000] 3[20001-30000]"},
        {"line limit, copies", 30001, 15000, 2, false, -1,
         "1[1-15000] 1[1-15000] 2[15001-30000] 2[15001-30000]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeLines lines;
        lines.count = c.lines;
        lines.countAgain = c.countAgain;
        Recorder surface;
        PageLayout layout;
        ASSERT_TRUE(page_layout((c.textLines + 2) * kLineHeight, kLineHeight, &layout));
        EXPECT_EQ(print_pages(layout, "log", {c.copies, c.collate}, lines, surface),
                  PrintOutcome::kPrinted);
        EXPECT_EQ(surface.pages, c.pages);
    }
}

TEST(PrintPagesTest, FailuresEndTheJob) {
    struct Case {
        const char* what;
        int failAt, countAgain;
        bool reopens;
        int failStartAt, failEndAt, copies;
        PrintOutcome outcome;
        const char* pages;
    };
    const Case cases[] = {
        {"read fails on page 2", 11, -1, true, 0, 0, 1, PrintOutcome::kReadFailed, "1[1-10]"},
        {"read fails at once", 1, -1, true, 0, 0, 1, PrintOutcome::kReadFailed, ""},
        {"page 2 cannot start", 0, -1, true, 2, 0, 1, PrintOutcome::kPageFailed, "1[1-10]"},
        {"page 1 cannot end", 0, -1, true, 0, 1, 1, PrintOutcome::kPageFailed, "1[1-10]"},
        {"no second reading", 0, -1, false, 0, 0, 2, PrintOutcome::kReadFailed, "1[1-10] 2[11-12]"},
        {"shrunk before the copy", 0, 11, true, 0, 0, 2, PrintOutcome::kReadFailed,
         "1[1-10] 2[11-12] 1[1-10]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeLines lines;
        lines.count = 12;
        lines.failAt = c.failAt;
        lines.countAgain = c.countAgain;
        lines.reopens = c.reopens;
        Recorder surface;
        surface.failStartAt = c.failStartAt;
        surface.failEndAt = c.failEndAt;
        PageLayout layout;
        ASSERT_TRUE(page_layout(12 * kLineHeight, kLineHeight, &layout));
        EXPECT_EQ(print_pages(layout, "log", {c.copies, true}, lines, surface), c.outcome);
        EXPECT_EQ(surface.pages, c.pages);
    }
}

}  // namespace
