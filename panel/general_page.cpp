// The General page: the transfer log, the percent display of the status
// list and the interface the server listens on.
#include <windows.h>

#include <commctrl.h>

#include "panel/dialog_controls.h"
#include "panel/ip_edit_filter.h"
#include "panel/main_window.h"
#include "panel/message_box.h"
#include "panel/preference_pages.h"
#include "panel/preferences.h"
#include "panel/settings_copy.h"
#include "panel/status_view.h"
#include "panel/translation.h"
#include "panel/user_settings.h"
#include "resources/resource.h"
#include "rules/dotted.h"
#include "rules/settings_fields.h"

namespace {

constexpr ControlText kTexts[] = {
    {IDC_LOG_GROUP, "PROTOCOL"}, {IDC_WRITE_LOG, "LOG"},         {IDC_NEW_LOG_LABEL, "NEWLOG"},
    {IDC_DAILY, "DAILY"},        {IDC_MONTHLY, "MONTHLY"},       {IDC_STATUS_GROUP, "STATUS"},
    {IDC_PERCENT, "PERCENT"},    {IDC_ADDRESS_LABEL, "ADDRESS"},
};
// A longer text is no address; it is read whole so that it is refused.
constexpr int kAddressTextLength = 63;

void enable_log_file_choice(HWND page, bool enable) {
    enable_controls(page, {IDC_DAILY, IDC_MONTHLY}, enable);
}

void fill(HWND page, const ServerSettings& settings) {
    set_checked(page, IDC_WRITE_LOG, settings.Log != 0);
    set_checked(page, IDC_DAILY, settings.CreateLog == 1);
    set_checked(page, IDC_MONTHLY, settings.CreateLog == 0);
    set_checked(page, IDC_PERCENT, percent_display());
    install_ip_edit_filter(GetDlgItem(page, IDC_ADDRESS));
    set_control_text(page, IDC_ADDRESS, format_dotted(settings.Address));
}

void on_init(HWND page) {
    FillingPage filling;
    translate_controls(page, kTexts);
    ServerSettings& settings = server_settings_copy();
    fetch_page_record(kPipeGetSettings, &settings, sizeof settings);
    fill(page, settings);
    bool editable = !view_mode();
    enable_controls(page, {IDC_WRITE_LOG, IDC_PERCENT, IDC_ADDRESS}, editable);
    enable_log_file_choice(page, editable && settings.Log != 0);
}

void on_command(HWND page, int id, int code) {
    if (id == IDC_ADDRESS) {
        if (code == EN_CHANGE) mark_changed(page);
        return;
    }
    if (code != BN_CLICKED) return;
    if (id == IDC_WRITE_LOG) enable_log_file_choice(page, is_checked(page, IDC_WRITE_LOG));
    if (id == IDC_WRITE_LOG || id == IDC_DAILY || id == IDC_MONTHLY || id == IDC_PERCENT)
        mark_changed(page);
}

// The per-user "Percent": absent while the percentage is shown.
void store_percent(bool percent) {
    set_percent_display(percent);
    if (percent)
        delete_user_value("Percent");
    else
        write_user_text("Percent", "0");
}

// An address that is not one would make the server listen on every
// interface: the user is told, and the sheet stays open on this page with
// the field selected.
LRESULT refuse_address(HWND page) {
    char text[512];
    translate_string(IDS_ERROR_ADDRESS, "ERROR_ADDRESS", text, sizeof text);
    show_message(GetParent(page), MB_ICONWARNING | MB_OK, product_title(), "%s", text);
    PostMessageA(page, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(page, IDC_ADDRESS)),
                 TRUE);
    return PSNRET_INVALID;
}

LRESULT apply(HWND page) {
    auto address = interface_address_from_text(control_text(page, IDC_ADDRESS, kAddressTextLength));
    if (!address) return refuse_address(page);
    ServerSettings& settings = server_settings_copy();
    settings.Log = log_after_apply(settings.Log, is_checked(page, IDC_WRITE_LOG));
    settings.CreateLog = is_checked(page, IDC_DAILY) ? 1 : 0;
    settings.Address = *address;
    send_page_record(kPipeSetSettings, &settings, sizeof settings);
    store_percent(is_checked(page, IDC_PERCENT));
    apply_texts();
    PostMessageA(main_window(), WM_USER, 1, 1);
    return PSNRET_NOERROR;
}

}  // namespace

INT_PTR CALLBACK general_page(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    return run_settings_page(page, message, wParam, lParam, {on_init, on_command, apply});
}
