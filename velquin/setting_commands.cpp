// get and set: the server's settings by their store names, read from and
// sent to the running server, one record per group.
#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "pipeclient/pipe_client.h"
#include "platform/process.h"
#include "platform/store.h"
#include "rules/settings_fields.h"
#include "velquin/report.h"
#include "velquin/tool.h"

namespace {

constexpr std::size_t kGroupCount = 3;

std::size_t group_index(SettingGroup group) { return static_cast<std::size_t>(group); }

// The records of the groups marked in `wanted`, from the server. -1 when it
// does not answer, 0 when it refused, 1 when all were read.
int fetch_groups(const std::array<bool, kGroupCount>& wanted, SettingsRecords* records) {
    int results[kGroupCount] = {1, 1, 1};
    if (wanted[group_index(SettingGroup::kServer)]) results[0] = fetch_settings(&records->server);
    if (results[0] > 0 && wanted[group_index(SettingGroup::kMulticast)])
        results[1] = fetch_multicast(&records->multicast);
    if (results[0] > 0 && results[1] > 0 && wanted[group_index(SettingGroup::kPxe)])
        results[2] = fetch_pxe(&records->pxe);
    for (int result : results)
        if (result <= 0) return result;
    return 1;
}

int report_fetch_failure(int result) {
    if (result < 0) return report_no_server();
    return report_failure(kExitFailed, "the server refused to send its settings");
}

// The names asked for; an unknown one is reported and leaves the list empty.
bool named_settings(const std::vector<std::string>& names,
                    std::vector<const SettingName*>* settings) {
    if (names.empty()) {
        for (const SettingName& setting : setting_names()) settings->push_back(&setting);
        return true;
    }
    bool known = true;
    for (const std::string& name : names) {
        const SettingName* setting = find_setting(name);
        if (!setting) {
            report_failure(kExitFailed, "unknown setting " + name);
            known = false;
        }
        settings->push_back(setting);
    }
    return known;
}

std::array<bool, kGroupCount> groups_of(const std::vector<const SettingName*>& settings) {
    std::array<bool, kGroupCount> groups{};
    for (const SettingName* setting : settings) groups[group_index(setting->group)] = true;
    return groups;
}

// The bound of "Clients" as the Server page's slider has it.
SettingContext setting_context() {
    std::string text;
    std::optional<std::string> stored;
    if (platform::store_read("Pravlen", "MaxClients", &text)) stored = text;
    return SettingContext{max_clients_bound(stored), platform::path_separator()};
}

struct Assignment {
    const SettingName* setting;
    std::string value;
};

// NAME=VALUE operands; each fault is reported. Empty when one was faulty.
std::vector<Assignment> read_assignments(const std::vector<std::string>& operands) {
    std::vector<Assignment> assignments;
    bool sound = true;
    for (const std::string& operand : operands) {
        std::size_t equals = operand.find('=');
        const SettingName* setting =
            equals == std::string::npos ? nullptr : find_setting(operand.substr(0, equals));
        if (setting) {
            assignments.push_back({setting, operand.substr(equals + 1)});
            continue;
        }
        sound = false;
        report_failure(kExitFailed, equals == std::string::npos
                                        ? operand + " is not NAME=VALUE"
                                        : "unknown setting " + operand.substr(0, equals));
    }
    if (!sound) assignments.clear();
    return assignments;
}

// Puts every value into the records; false (each refusal reported) when
// one is refused.
bool take_values(const std::vector<Assignment>& assignments, SettingsRecords* records) {
    SettingContext context = setting_context();
    bool taken = true;
    for (const Assignment& a : assignments) {
        if (std::optional<std::string> refusal =
                take_setting_value(*a.setting, a.value, context, records)) {
            report_failure(kExitFailed, *refusal);
            taken = false;
        }
    }
    return taken;
}

// Sends the record of one group: the server stores it and reloads.
int send_group(SettingGroup group, const SettingsRecords& records) {
    switch (group) {
        case SettingGroup::kServer:
            return pipe_set(kPipeSetSettings, sizeof records.server, &records.server);
        case SettingGroup::kMulticast:
            return pipe_set(kPipeSetMulticast, sizeof records.multicast, &records.multicast);
        case SettingGroup::kPxe:
            return pipe_set(kPipeSetPxe, sizeof records.pxe, &records.pxe);
    }
    return 0;
}

int send_groups(const std::array<bool, kGroupCount>& groups, const SettingsRecords& records) {
    constexpr std::array kOrder = {SettingGroup::kServer, SettingGroup::kMulticast,
                                   SettingGroup::kPxe};
    bool sentOne = false;
    for (SettingGroup group : kOrder) {
        if (!groups[group_index(group)]) continue;
        int result = send_group(group, records);
        if (result < 0) return report_no_server();
        if (result == 0) {
            std::string text = kNoWritePermission;
            if (sentOne) text += " (the settings before it were stored)";
            return report_failure(kExitFailed, text);
        }
        sentOne = true;
    }
    return kExitDone;
}

}  // namespace

int run_get(const CommandLine& line) {
    std::vector<const SettingName*> settings;
    if (!named_settings(line.operands, &settings)) return kExitFailed;
    SettingsRecords records;
    int result = fetch_groups(groups_of(settings), &records);
    if (result <= 0) return report_fetch_failure(result);
    std::fputs(settings_report(settings, records, line.json).c_str(), stdout);
    return kExitDone;
}

// The values are checked against the records the server holds now, and only
// when all of them are sound is any record sent.
int run_set(const CommandLine& line) {
    std::vector<Assignment> assignments = read_assignments(line.operands);
    if (assignments.empty()) return kExitFailed;
    std::vector<const SettingName*> settings;
    for (const Assignment& a : assignments) settings.push_back(a.setting);
    std::array<bool, kGroupCount> groups = groups_of(settings);
    SettingsRecords records;
    int result = fetch_groups(groups, &records);
    if (result <= 0) return report_fetch_failure(result);
    if (!take_values(assignments, &records)) return kExitFailed;
    return send_groups(groups, records);
}
