// pxe list, add and remove: the PXE file map in the store's section "PXE",
// with the names, texts and checks of the PXE page's assignment dialog.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "pipeclient/pipe_client.h"
#include "platform/store.h"
#include "rules/dotted.h"
#include "rules/pxe_map.h"
#include "rules/settings_fields.h"
#include "velquin/tool.h"

namespace {

constexpr uint32_t kDefaultGroupPort = 1758;

// The port of a new entry, as the dialog offers it: the server's default
// group port, or the stored one when the server does not answer.
uint32_t default_group_port() {
    PxeSettings pxe{};
    if (fetch_pxe(&pxe) > 0 && pxe.PxeMulticastPort != 0) return pxe.PxeMulticastPort;
    std::string text;
    if (!platform::store_read("Pravlen", "PxeMulticastPort", &text)) return kDefaultGroupPort;
    uint32_t port = leading_unsigned(text).value_or(kDefaultGroupPort) & 0xFFFF;
    return port != 0 ? port : kDefaultGroupPort;
}

std::optional<std::string> map_name(const std::string& typed) {
    std::optional<std::string> name = pxe_map_name(typed);
    if (!name)
        report_failure(kExitFailed, "a file name of 1 to " + std::to_string(kMaxPxeName) +
                                        " characters is needed, not \"" + typed + "\"");
    return name;
}

}  // namespace

int run_pxe_list(const CommandLine&) {
    std::vector<platform::StoreValue> values;
    (void)platform::store_list(kPxeMapSection, &values);  // no section: no entries
    for (const platform::StoreValue& value : values) {
        PxeMapRow row = pxe_map_row(value.name, value.text);
        std::printf("%s %s %s\n", row.name.c_str(), row.address.empty() ? "-" : row.address.c_str(),
                    row.port.empty() ? "-" : row.port.c_str());
    }
    return kExitDone;
}

int run_pxe_add(const CommandLine& line) {
    std::optional<std::string> name = map_name(line.operands[0]);
    if (!name) return kExitFailed;
    uint32_t address = 0;
    if (!parse_dotted_strict(line.operands[1], &address))
        return report_failure(kExitFailed,
                              "the group must be a dotted address (0.0.0.0 for the "
                              "default group), not " +
                                  line.operands[1]);
    std::optional<uint32_t> port =
        line.operands.size() > 2 ? pxe_group_port(line.operands[2]) : default_group_port();
    if (!port)
        return report_failure(kExitFailed, "the group port must be a number from 1 to 65535, not " +
                                               line.operands[2]);
    std::string text = pxe_map_text(address, *port);
    if (!platform::store_write(kPxeMapSection, name->c_str(), text.c_str()))
        return report_failure(kExitFailed, "cannot write the PXE file map to the store " +
                                               platform::store_location());
    return kExitDone;
}

int run_pxe_remove(const CommandLine& line) {
    std::optional<std::string> name = map_name(line.operands[0]);
    if (!name) return kExitFailed;
    std::string text;
    if (!platform::store_read(kPxeMapSection, name->c_str(), &text))
        return report_failure(kExitFailed, "the PXE file map has no entry " + *name);
    if (!platform::store_delete(kPxeMapSection, name->c_str()))
        return report_failure(kExitFailed, "cannot write the PXE file map to the store " +
                                               platform::store_location());
    return kExitDone;
}
