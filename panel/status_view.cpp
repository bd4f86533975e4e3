#include "panel/status_view.h"

#include <commctrl.h>

#include <cstring>
#include <string>

#include "panel/main_window.h"
#include "panel/settings_copy.h"
#include "panel/status_rules.h"
#include "panel/translation.h"
#include "pipeclient/pipe_client.h"
#include "resources/resource.h"

const int kStatusIcons[kStatusIconCount] = {141, 142, 143, 144,          145,        146,
                                            147, 148, 149, 150,          151,        152,
                                            153, 154, 155, IDI_COMPLETE, IDI_FAILED, IDI_EMPTY};

namespace {

constexpr int kColumnCount = 4;
// A server lists the transfers of its last seconds; a reply stream that
// never ends is cut here.
constexpr int kMaxRows = 10000;
// Polls for which a refusal of settings stays in the bottom status bar:
// 3 to 9 seconds.
constexpr int kRefusalNoticePolls = 3;

struct Header {
    UINT stringId;
    const char* key;
};
constexpr Header kHeaders[kColumnCount] = {{IDS_STATUS, "STATUS"},
                                           {IDS_IPADDR, "IPADDR"},
                                           {IDS_OPER, "OPER"},
                                           {IDS_FILE, "FILE"}};

struct StatusViewState {
    StatusTexts texts;
    std::string settingsRefused;
    int refusalNoticePolls = 0;
    char headers[kColumnCount][32] = {};
    RefreshSchedule schedule;
    uint32_t running = 0;
    bool pipeError = false;
    bool percent = true;
    int columnCount = 0;
    bool fullWidthMeasured = false;
    int fullWidth = 0;
};

StatusViewState g_view;

std::string translated(UINT stringId, const char* key, int size) {
    std::string text(static_cast<std::size_t>(size), '\0');
    text.resize(static_cast<std::size_t>(translate_string(stringId, key, text.data(), size)));
    return text;
}

void set_bar_text(HWND bar, const std::string& text) {
    if (bar) SendMessageA(bar, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void set_cell(HWND list, int row, int column, const std::string& text) {
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text.c_str());
    SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

// Row `index` is overwritten when the list has it, else appended.
void write_row(HWND list, int index, int existingRows, const TransferRow& row) {
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = index;
    item.pszText = const_cast<char*>(row.progress.c_str());
    item.iImage = row.icon;
    SendMessageA(list, index < existingRows ? LVM_SETITEMA : LVM_INSERTITEMA, 0,
                 reinterpret_cast<LPARAM>(&item));
    set_cell(list, index, 1, row.address);
    set_cell(list, index, 2, row.operation);
    set_cell(list, index, 3, row.file);
}

// Writes the server's records into the rows from the top; returns the number
// of rows written. A failed request sets the pipe-error flag.
int fetch_rows(HWND list, std::size_t rootLength) {
    int existing = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    int index = 0;
    for (; index < kMaxRows; ++index) {
        TransferSession session;
        int32_t running = 0;
        int got = fetch_transfer(index, &session, &running);
        if (got <= 0) {
            g_view.pipeError = true;
            break;
        }
        g_view.running = static_cast<uint32_t>(running);
        g_view.pipeError = false;
        if (got == 1) break;
        write_row(list, index, existing, transfer_row(session, rootLength, g_view.percent));
    }
    for (int row = existing - 1; row >= index; --row)
        SendMessageA(list, LVM_DELETEITEM, static_cast<WPARAM>(row), 0);
    return index;
}

bool set_column(HWND list, int index, int width) {
    LVCOLUMNA column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = width;
    column.pszText = g_view.headers[index];
    column.iSubItem = index;
    auto data = reinterpret_cast<LPARAM>(&column);
    if (index < g_view.columnCount)
        return SendMessageA(list, LVM_SETCOLUMNA, static_cast<WPARAM>(index), data) != 0;
    return SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(index), data) >= 0;
}

// The image list of `count` icons at one size.
HIMAGELIST icon_list(HINSTANCE instance, int count, const int* iconIds, int cx, int cy) {
    HIMAGELIST images = ImageList_Create(cx, cy, ILC_MASK | ILC_COLOR32, 1, 1);
    for (int i = 0; images && i < count; ++i) {
        auto icon = static_cast<HICON>(
            LoadImageA(instance, MAKEINTRESOURCEA(iconIds[i]), IMAGE_ICON, cx, cy, 0));
        ImageList_AddIcon(images, icon);
        if (icon) DestroyIcon(icon);
    }
    return images;
}

}  // namespace

void refresh_status() {
    ServerSettings& settings = server_settings_copy();
    std::size_t rootLength = strnlen(settings.RootDirectory, sizeof settings.RootDirectory);
    fetch_settings(&settings);  // a failure shows the pipe-error text at once
    std::string stateLine =
        compose_state_line(settings, g_view.texts, server_paused(), g_view.pipeError);
    if (g_view.refusalNoticePolls > 0) {
        --g_view.refusalNoticePolls;
        if (!g_view.pipeError) stateLine = g_view.settingsRefused;
    }
    fetch_rows(status_list(), rootLength);
    set_bar_text(top_status_bar(), compose_clients_line(g_view.texts, g_view.running, view_mode()));
    set_bar_text(bottom_status_bar(), stateLine);
}

bool refresh_due() { return g_view.schedule.tick(g_view.running); }
void refresh_done() { g_view.schedule.polled(); }
void request_refresh() { g_view.schedule.request(); }

void load_status_texts() {
    g_view.texts = StatusTexts{
        translated(IDS_CLIENTS, "CLIENTS", 64), translated(IDS_MODE, "MODE", 64),
        translated(IDS_READY, "READY", 64),     translated(IDS_ERROR_PORT, "ERROR_PORT", 64),
        translated(IDS_PAUSED, "PAUSED", 64),   translated(IDS_ERROR_PIPE, "ERROR_PIPE", 64)};
    g_view.settingsRefused = translated(IDS_ERROR_REFUSED, "ERROR_REFUSED", 64);
    for (int i = 0; i < kColumnCount; ++i)
        translate_string(kHeaders[i].stringId, kHeaders[i].key, g_view.headers[i],
                         sizeof g_view.headers[i]);
}

void set_list_icons(HINSTANCE instance, HWND list, int count, const int* iconIds) {
    HIMAGELIST large = icon_list(instance, count, iconIds, GetSystemMetrics(SM_CXICON),
                                 GetSystemMetrics(SM_CYICON));
    HIMAGELIST small = icon_list(instance, count, iconIds, GetSystemMetrics(SM_CXSMICON),
                                 GetSystemMetrics(SM_CYSMICON));
    // The list view owns the lists it holds; ones it held before are ours.
    if (HIMAGELIST old = ListView_SetImageList(list, large, LVSIL_NORMAL)) ImageList_Destroy(old);
    if (HIMAGELIST old = ListView_SetImageList(list, small, LVSIL_SMALL)) ImageList_Destroy(old);
}

void set_up_columns() {
    HWND list = status_list();
    RECT client{};
    GetClientRect(list, &client);
    int available = client.right - GetSystemMetrics(SM_CXVSCROLL);
    if (!g_view.fullWidthMeasured) {
        g_view.fullWidth = available;
        g_view.fullWidthMeasured = true;
    }
    auto widths = column_widths(available, g_view.fullWidth);
    for (int i = 0; i < kColumnCount; ++i)
        if (!set_column(list, i, widths[static_cast<std::size_t>(i)])) return;
    while (SendMessageA(list, LVM_DELETECOLUMN, kColumnCount, 0)) {
    }
    g_view.columnCount = kColumnCount;
}

void show_pipe_error() {
    if (g_view.texts.pipeError.empty())
        g_view.texts.pipeError = translated(IDS_ERROR_PIPE, "ERROR_PIPE", 64);
    set_bar_text(bottom_status_bar(), g_view.texts.pipeError);
}

void show_settings_refused() {
    g_view.refusalNoticePolls = kRefusalNoticePolls;
    set_bar_text(bottom_status_bar(), g_view.settingsRefused);
}

void set_pipe_error() { g_view.pipeError = true; }
bool pipe_error() { return g_view.pipeError; }
void set_percent_display(bool percent) { g_view.percent = percent; }
bool percent_display() { return g_view.percent; }
uint32_t running_transfers() { return g_view.running; }

void reset_status_view() { g_view = StatusViewState{}; }
