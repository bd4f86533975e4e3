#include "panel/log_printing.h"

#include <commdlg.h>

#include <string>

#include "panel/message_box.h"
#include "panel/owned_handle.h"
#include "panel/print_pages.h"
#include "panel/translation.h"
#include "pipeclient/pipe_client.h"
#include "resources/resource.h"
#include "rules/log_line.h"

namespace {

constexpr int kLineSize = 4096;

using OwnedDc = OwnedHandle<HDC, DeleteDC>;
using OwnedGlobal = OwnedHandle<HGLOBAL, GlobalFree>;

// The file's lines through the server; a later copy opens the file again.
class PipeLines : public PrintedLines {
  public:
    PipeLines(const char* fileName, PipeToken stream) : fileName_(fileName), stream_(stream) {}
    ~PipeLines() override { close(); }
    PipeLines(const PipeLines&) = delete;
    PipeLines& operator=(const PipeLines&) = delete;

    Read next(std::string* line) override {
        char text[kLineSize];
        switch (log_read_line(stream_, text, sizeof text)) {
            case LineRead::kLine:
                *line = strip_line_end(text);
                return Read::kLine;
            case LineRead::kEnd:
                return Read::kEnd;
            case LineRead::kFailed:
                break;
        }
        return Read::kFailed;
    }
    bool restart() override {
        close();
        stream_ = log_open(fileName_.c_str());
        return stream_ != 0;
    }

  private:
    void close() {
        if (stream_) log_close(stream_);
        stream_ = 0;
    }

    std::string fileName_;
    PipeToken stream_;
};

// Lines at the left edge of the printer's page, in its default font.
class PrinterPages : public PrintSurface {
  public:
    explicit PrinterPages(HDC dc) : dc_(dc) {}
    bool start_page() override { return StartPage(dc_) > 0; }
    void text(int y, std::string_view text) override {
        TextOutA(dc_, 0, y, text.data(), static_cast<int>(text.size()));
    }
    bool end_page() override { return EndPage(dc_) > 0; }

  private:
    HDC dc_;
};

// What the print dialog handed over: the printer's device context, the
// copies, and the two settings blocks it allocated.
struct PrinterChoice {
    OwnedDc dc;
    OwnedGlobal devMode, devNames;
    PrintCopies copies;
};

bool choose_printer(HWND owner, PrinterChoice* choice) {
    PRINTDLGA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.Flags = PD_RETURNDC | PD_COLLATE | PD_NOPAGENUMS | PD_NOSELECTION;
    dialog.nCopies = 1;
    BOOL chosen = PrintDlgA(&dialog);
    choice->devMode.reset(dialog.hDevMode);
    choice->devNames.reset(dialog.hDevNames);
    choice->dc.reset(dialog.hDC);
    choice->copies = PrintCopies{dialog.nCopies, (dialog.Flags & PD_COLLATE) != 0};
    return chosen && choice->dc;
}

void report_failure(HWND owner, const char* fileName) {
    char text[128];
    translate_string(IDS_ERROR_PRINT, "ERROR_PRINT", text, sizeof text);
    show_message(owner, MB_ICONEXCLAMATION | MB_OK, product_title(), "%s\n%s", text, fileName);
}

int line_height(HDC dc) {
    TEXTMETRICA metrics{};
    if (!GetTextMetricsA(dc, &metrics)) return 0;
    return metrics.tmHeight + metrics.tmExternalLeading;
}

// Runs the job; a failure part-way abandons it rather than ending it as if
// it had printed.
bool print_document(HDC dc,
                    const char* fileName,
                    const PageLayout& layout,
                    PrintCopies copies,
                    PipeLines& lines) {
    DOCINFOA document{};
    document.cbSize = sizeof document;
    document.lpszDocName = fileName;
    if (StartDocA(dc, &document) <= 0) return GetLastError() == ERROR_CANCELLED;
    PrinterPages pages(dc);
    if (print_pages(layout, fileName, copies, lines, pages) == PrintOutcome::kPrinted)
        return EndDoc(dc) > 0;
    AbortDoc(dc);
    return false;
}

}  // namespace

void print_log(HWND owner, const char* fileName) {
    PrinterChoice printer;
    if (!choose_printer(owner, &printer)) return;
    PipeToken stream = log_open(fileName);
    if (stream == 0) return;
    PipeLines lines(fileName, stream);
    PageLayout layout;
    HDC dc = printer.dc.get();
    if (!page_layout(GetDeviceCaps(dc, VERTRES), line_height(dc), &layout)) return;
    if (!print_document(dc, fileName, layout, printer.copies, lines))
        report_failure(owner, fileName);
}
