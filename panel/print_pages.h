// The printed log's pages, free of any device: how many lines a page holds,
// what each page carries, and the order of pages for several copies. The
// Win32 side (log_printing.cpp) hands in the file's lines and a surface to
// draw on.
//
// A page holds a header line ("name  --  page"), an empty line, and up to
// the page's text lines; at most kPrintLineLimit lines of a file are
// printed. A page is started only when it has lines to carry, so a file of
// exactly one page's lines prints one page; an empty file prints the header
// alone.
#pragma once

#include <string>
#include <string_view>

inline constexpr int kPrintLineLimit = 30000;

struct PageLayout {
    int lineHeight = 0;
    int textLines = 0;  // lines of the file per page
    int pageLimit = 0;  // pages that hold kPrintLineLimit lines
};

// The layout for a page `pageHeight` units high with lines `lineHeight`
// apart; false when a page holds fewer than three lines (nothing can be
// printed).
bool page_layout(int pageHeight, int lineHeight, PageLayout* layout);

// "%s  --  %u": the file name and the page number.
std::string page_header(std::string_view fileName, unsigned page);

// The file's lines, read in order.
class PrintedLines {
  public:
    enum class Read { kLine, kEnd, kFailed };
    virtual ~PrintedLines() = default;
    // The next line without its line end.
    virtual Read next(std::string* line) = 0;
    // Back to the first line, for the next collated copy; false on failure.
    virtual bool restart() = 0;
};

// Where the pages go. A page whose start or end fails ends the job.
class PrintSurface {
  public:
    virtual ~PrintSurface() = default;
    virtual bool start_page() = 0;
    virtual void text(int y, std::string_view text) = 0;
    virtual bool end_page() = 0;
};

enum class PrintOutcome { kPrinted, kPageFailed, kReadFailed };

struct PrintCopies {
    int count = 1;
    bool collate = true;  // the whole series once per copy, else each page `count` times
};

// Prints the file's pages, every copy with the same lines: collated copies
// read the file again and stop at the number of lines the first copy had.
// A read that fails, or a later copy that finds fewer lines, is kReadFailed.
PrintOutcome print_pages(const PageLayout& layout,
                         std::string_view fileName,
                         PrintCopies copies,
                         PrintedLines& lines,
                         PrintSurface& surface);
