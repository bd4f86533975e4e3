// access list, add, remove, on and off: the access rules in the store's
// section "Access", edited as the access-control dialog edits them, and the
// switch that makes the server apply them.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "pipeclient/pipe_client.h"
#include "platform/store.h"
#include "rules/access_rules.h"
#include "velquin/tool.h"

namespace {

constexpr const char* kAccessSection = "Access";

std::vector<StoredRule> stored_rules() {
    std::vector<platform::StoreValue> values;
    (void)platform::store_list(kAccessSection, &values);  // no section: no rules
    std::vector<StoredRule> rules;
    for (platform::StoreValue& value : values)
        rules.push_back(StoredRule{std::move(value.name), std::move(value.text)});
    return rules;
}

bool same_directory(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The directories that have stored rules: the root first, then the others
// in name order.
std::vector<std::string> ruled_directories(const std::vector<StoredRule>& stored) {
    std::vector<std::string> directories;
    for (const StoredRule& rule : stored) {
        std::string directory;
        unsigned number = 0;
        if (!split_rule_name(rule.name, &directory, &number)) continue;
        auto same = [&](const std::string& d) { return same_directory(d, directory); };
        if (std::none_of(directories.begin(), directories.end(), same))
            directories.push_back(directory);
    }
    std::sort(directories.begin(), directories.end(),
              [](const std::string& a, const std::string& b) {
                  bool aRoot = same_directory(a, std::string(kRootDirectoryKey));
                  bool bRoot = same_directory(b, std::string(kRootDirectoryKey));
                  return aRoot != bRoot ? aRoot : a < b;
              });
    return directories;
}

bool is_placeholder(const AccessRow& row) { return row.rights.empty() && row.every_client(); }

// The rules of a directory as the dialog shows them, without its empty
// placeholder. `hidden` counts the stored rules it cannot show.
std::vector<AccessRow> directory_rows(const std::string& directory,
                                      const std::vector<StoredRule>& stored,
                                      int* hidden) {
    DirectoryRules rules = directory_rules(directory, stored);
    *hidden = rules.hidden;
    std::erase_if(rules.rows, is_placeholder);
    return rules.rows;
}

void print_row(const AccessRow& row, std::size_t number) {
    std::string line = row.directory + " " + std::to_string(number) + " " +
                       (row.rights.empty() ? "-" : row.rights) + " " + range_text(row) + "\n";
    std::fputs(line.c_str(), stdout);
}

// Stores `rows` as the rules of `directory`, the new ones before the old
// ones go, so that a failure leaves the old rules whole.
int save_rows(const std::string& directory,
              const std::vector<AccessRow>& rows,
              const std::vector<StoredRule>& stored) {
    RuleSavePlan plan = plan_rule_save(rows, {directory}, stored);
    RuleStore store{
        [](const StoredRule& rule) {
            return platform::store_write(kAccessSection, rule.name.c_str(), rule.text.c_str());
        },
        [](const std::string& name) {
            return platform::store_delete(kAccessSection, name.c_str());
        },
    };
    if (!apply_rule_save(plan, stored, store))
        return report_failure(kExitFailed, "cannot write the access rules to the store " +
                                               platform::store_location());
    return kExitDone;
}

void announce_dropped(const std::string& directory, int hidden) {
    if (hidden > 0)
        std::fprintf(stderr,
                     "velquin: %d stored rule(s) of %s that the server cannot use (an invalid "
                     "address, a text too long, a number after a gap) are dropped\n",
                     hidden, directory.c_str());
}

bool read_directory(const std::string& text, std::string* directory) {
    if (directory_key_from_text(text, directory)) return true;
    report_failure(kExitFailed, text + " is not %root% or the name of a directory below the root");
    return false;
}

}  // namespace

int run_access_list(const CommandLine&) {
    std::vector<StoredRule> stored = stored_rules();
    int hiddenTotal = 0;
    for (const std::string& directory : ruled_directories(stored)) {
        int hidden = 0;
        std::vector<AccessRow> rows = directory_rows(directory, stored, &hidden);
        hiddenTotal += hidden;
        for (std::size_t i = 0; i < rows.size(); ++i) print_row(rows[i], i);
    }
    if (hiddenTotal > 0)
        std::fprintf(stderr,
                     "velquin: %d stored rule(s) are not shown: an invalid address, a text too "
                     "long, or a number after a gap\n",
                     hiddenTotal);
    return kExitDone;
}

int run_access_add(const CommandLine& line) {
    AccessRow row;
    if (!read_directory(line.operands[0], &row.directory)) return kExitFailed;
    if (!rights_from_text(line.operands[1], &row.rights))
        return report_failure(kExitFailed,
                              "rights must be letters of r (read), w (write) and o "
                              "(replace, only with w), not " +
                                  line.operands[1]);
    std::string range = line.operands.size() > 2 ? line.operands[2] : "*";
    if (!range_from_text(range, &row))
        return report_failure(kExitFailed,
                              "a range is *, an address, or FIRST-LAST with FIRST not "
                              "above LAST, not " +
                                  range);
    std::vector<StoredRule> stored = stored_rules();
    int hidden = 0;
    std::vector<AccessRow> rows = directory_rows(row.directory, stored, &hidden);
    std::size_t at = line.at.value_or(static_cast<unsigned>(rows.size()));
    if (at > rows.size())
        return report_failure(kExitFailed, row.directory + " has " + std::to_string(rows.size()) +
                                               " rule(s); --at may be at most that");
    announce_dropped(row.directory, hidden);
    rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(at), row);
    return save_rows(row.directory, rows, stored);
}

int run_access_remove(const CommandLine& line) {
    std::string directory;
    if (!read_directory(line.operands[0], &directory)) return kExitFailed;
    std::vector<StoredRule> stored = stored_rules();
    int hidden = 0;
    std::vector<AccessRow> rows = directory_rows(directory, stored, &hidden);
    std::size_t number = rows.size();
    const std::string& text = line.operands[1];
    if (!text.empty() && text.size() < 10 &&
        text.find_first_not_of("0123456789") == std::string::npos)
        number = std::stoul(text);
    if (number >= rows.size())
        return report_failure(kExitFailed, directory + " has no rule " + text);
    announce_dropped(directory, hidden);
    rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(number));
    return save_rows(directory, rows, stored);
}

// The dialog's check box: the server's settings record with the switch set.
int run_access_switch(const CommandLine& line) {
    ServerSettings settings{};
    int result = fetch_settings(&settings);
    if (result < 0) return report_no_server();
    if (result == 0) return report_failure(kExitFailed, "the server refused to send its settings");
    settings.AccessControl = line.command == Command::kAccessOn ? 1 : 0;
    result = pipe_set(kPipeSetSettings, sizeof settings, &settings);
    if (result < 0) return report_no_server();
    return result == 0 ? report_failure(kExitFailed, kNoWritePermission) : kExitDone;
}
