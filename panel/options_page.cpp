// The Options page: the TFTP options the server accepts, the line ends of
// ASCII transfers, shared file views, and the multicast group. Its fields
// live in two records, both sent on every apply.
#include <windows.h>

#include <commctrl.h>

#include "panel/dialog_controls.h"
#include "panel/ip_edit_filter.h"
#include "panel/main_window.h"
#include "panel/preference_pages.h"
#include "panel/preferences.h"
#include "panel/settings_copy.h"
#include "resources/resource.h"
#include "rules/dotted.h"
#include "rules/settings_fields.h"

namespace {

constexpr ControlText kTexts[] = {
    {IDC_ACCEPT_BLKSIZE, "BLOCKSIZEOPT"},
    {IDC_ACCEPT_TIMEOUT, "TIMEOUTOPT"},
    {IDC_ACCEPT_TSIZE, "TSIZEOPT"},
    {IDC_UNIX_STYLE, "UNIX"},
    {IDC_SHARED_VIEWS, "MMF"},
    {IDC_MULTICAST_GROUP, "MULTICAST"},
    {IDC_MULTICAST, "MCAST"},
    {IDC_MULTICAST_IP_LABEL, "MCASTIP"},
    {IDC_MULTICAST_PORT_LABEL, "MCASTPORT"},
    {IDC_MULTICAST_TTL_LABEL, "MCASTTTL"},
};
constexpr int kAddressTextLength = 17;
constexpr int kNumberTextLength = 15;

void enable_multicast_fields(HWND page, bool enable) {
    enable_controls(page, {IDC_MULTICAST_IP, IDC_MULTICAST_PORT, IDC_MULTICAST_TTL}, enable);
}

void fill(HWND page, const ServerSettings& settings, const MulticastSettings& multicast) {
    set_checked(page, IDC_ACCEPT_BLKSIZE, settings.Options & kOptionBlksize);
    set_checked(page, IDC_ACCEPT_TIMEOUT, settings.Options & kOptionTimeout);
    set_checked(page, IDC_ACCEPT_TSIZE, settings.Options & kOptionTsize);
    set_checked(page, IDC_UNIX_STYLE, settings.UnixStyle != 0);
    set_checked(page, IDC_SHARED_VIEWS, settings.MMF & kMmfSharedViews);
    set_checked(page, IDC_MULTICAST, multicast.Multicast != 0);
    install_ip_edit_filter(GetDlgItem(page, IDC_MULTICAST_IP));
    set_control_text(page, IDC_MULTICAST_IP, format_dotted(multicast.MulticastIp));
    set_control_text(page, IDC_MULTICAST_PORT, std::to_string(multicast.MulticastPort));
    set_control_text(page, IDC_MULTICAST_TTL,
                     std::to_string(static_cast<uint32_t>(multicast.MulticastTTL)));
}

void on_init(HWND page) {
    FillingPage filling;
    translate_controls(page, kTexts);
    ServerSettings& settings = server_settings_copy();
    MulticastSettings& multicast = multicast_settings_copy();
    fetch_page_record(kPipeGetSettings, &settings, sizeof settings);
    fetch_page_record(kPipeGetMulticast, &multicast, sizeof multicast);
    fill(page, settings, multicast);
    bool editable = !view_mode();
    enable_multicast_fields(page, editable && multicast.Multicast != 0);
    enable_controls(page,
                    {IDC_ACCEPT_BLKSIZE, IDC_ACCEPT_TIMEOUT, IDC_ACCEPT_TSIZE, IDC_UNIX_STYLE,
                     IDC_SHARED_VIEWS, IDC_MULTICAST},
                    editable);
}

void on_command(HWND page, int id, int code) {
    switch (id) {
        case IDC_MULTICAST:
        case IDC_UNIX_STYLE:
        case IDC_ACCEPT_TSIZE:
        case IDC_ACCEPT_BLKSIZE:
        case IDC_ACCEPT_TIMEOUT:
        case IDC_SHARED_VIEWS:
            enable_multicast_fields(page, is_checked(page, IDC_MULTICAST));
            if (code == BN_CLICKED) mark_changed(page);
            break;
        case IDC_MULTICAST_IP:
        case IDC_MULTICAST_PORT:
        case IDC_MULTICAST_TTL:
            if (code == EN_CHANGE) mark_changed(page);
            break;
    }
}

// While multicast is off its group, port and TTL keep what was fetched.
void read_multicast(HWND page, MulticastSettings* multicast) {
    multicast->Multicast = is_checked(page, IDC_MULTICAST) ? 1 : 0;
    if (!multicast->Multicast) return;
    multicast->MulticastIp =
        multicast_ip_from_text(control_text(page, IDC_MULTICAST_IP, kAddressTextLength));
    multicast->MulticastPort =
        multicast_port_from_text(control_text(page, IDC_MULTICAST_PORT, kNumberTextLength));
    multicast->MulticastTTL =
        multicast_ttl_from_text(control_text(page, IDC_MULTICAST_TTL, kNumberTextLength));
}

LRESULT apply(HWND page) {
    ServerSettings& settings = server_settings_copy();
    settings.Options = options_from_boxes(is_checked(page, IDC_ACCEPT_BLKSIZE),
                                          is_checked(page, IDC_ACCEPT_TIMEOUT),
                                          is_checked(page, IDC_ACCEPT_TSIZE));
    settings.UnixStyle = is_checked(page, IDC_UNIX_STYLE) ? 1 : 0;
    settings.MMF = mmf_with_shared_views(settings.MMF, is_checked(page, IDC_SHARED_VIEWS));
    MulticastSettings& multicast = multicast_settings_copy();
    read_multicast(page, &multicast);
    send_page_record(kPipeSetSettings, &settings, sizeof settings);
    send_page_record(kPipeSetMulticast, &multicast, sizeof multicast);
    return PSNRET_NOERROR;
}

}  // namespace

INT_PTR CALLBACK options_page(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    return run_settings_page(page, message, wParam, lParam, {on_init, on_command, apply});
}
