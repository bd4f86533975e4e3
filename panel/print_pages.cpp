#include "panel/print_pages.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// One series of pages, from the file's first line.
struct Series {
    int repeats = 1;                   // each page this many times in a row
    int lineBudget = kPrintLineLimit;  // lines this series may print
    bool exact = false;                // the series must find lineBudget lines
};

using Page = std::vector<std::string>;

// Up to `count` lines into `page`; kEnd when the file ended first.
PrintedLines::Read read_page(PrintedLines& lines, int count, Page* page) {
    page->clear();
    std::string line;
    while (static_cast<int>(page->size()) < count) {
        PrintedLines::Read read = lines.next(&line);
        if (read != PrintedLines::Read::kLine) return read;
        page->push_back(line);
    }
    return PrintedLines::Read::kLine;
}

bool print_page(const PageLayout& layout,
                std::string_view fileName,
                unsigned number,
                const Page& page,
                PrintSurface& surface) {
    if (!surface.start_page()) return false;
    surface.text(0, page_header(fileName, number));
    int y = 2 * layout.lineHeight;
    for (const std::string& line : page) {
        surface.text(y, line);
        y += layout.lineHeight;
    }
    return surface.end_page();
}

PrintOutcome print_series(const PageLayout& layout,
                          std::string_view fileName,
                          const Series& series,
                          PrintedLines& lines,
                          PrintSurface& surface,
                          int* printed) {
    *printed = 0;
    Page page;
    for (int number = 1; number <= layout.pageLimit; ++number) {
        int wanted = std::min(layout.textLines, series.lineBudget - *printed);
        PrintedLines::Read read = read_page(lines, wanted, &page);
        if (read == PrintedLines::Read::kFailed) return PrintOutcome::kReadFailed;
        int total = *printed + static_cast<int>(page.size());
        if (series.exact && read == PrintedLines::Read::kEnd && total < series.lineBudget)
            return PrintOutcome::kReadFailed;
        if (page.empty() && number > 1) break;
        for (int i = 0; i < series.repeats; ++i)
            if (!print_page(layout, fileName, static_cast<unsigned>(number), page, surface))
                return PrintOutcome::kPageFailed;
        *printed = total;
        if (read == PrintedLines::Read::kEnd || *printed >= series.lineBudget) break;
    }
    return PrintOutcome::kPrinted;
}

}  // namespace

bool page_layout(int pageHeight, int lineHeight, PageLayout* layout) {
    if (lineHeight <= 0 || pageHeight <= 0) return false;
    int textLines = pageHeight / lineHeight - 2;
    if (textLines < 1) return false;
    *layout = PageLayout{lineHeight, textLines, (textLines + kPrintLineLimit - 1) / textLines};
    return true;
}

std::string page_header(std::string_view fileName, unsigned page) {
    char number[16];
    std::snprintf(number, sizeof number, "  --  %u", page);
    return std::string(fileName) + number;
}

PrintOutcome print_pages(const PageLayout& layout,
                         std::string_view fileName,
                         PrintCopies copies,
                         PrintedLines& lines,
                         PrintSurface& surface) {
    int count = std::max(copies.count, 1);
    Series series;
    if (!copies.collate) series.repeats = count;
    int printed = 0;
    PrintOutcome outcome = print_series(layout, fileName, series, lines, surface, &printed);
    if (!copies.collate) return outcome;
    series = Series{1, printed, true};
    for (int copy = 2; copy <= count && outcome == PrintOutcome::kPrinted; ++copy) {
        if (!lines.restart()) return PrintOutcome::kReadFailed;
        outcome = print_series(layout, fileName, series, lines, surface, &printed);
    }
    return outcome;
}
