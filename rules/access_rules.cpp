#include "rules/access_rules.h"

#include <algorithm>
#include <map>
#include <set>

#include "rules/dotted.h"

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Value names match without regard to case, as the registry matches them.
bool same_name(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}

// The canonical text of an address at the start of `text`.
bool canonical_address(std::string_view text, std::string* address) {
    uint32_t value = 0;
    std::size_t length = 0;
    if (!parse_dotted_prefix(text, &value, &length)) return false;
    // format_dotted shows 0.0.0.0 as an empty field; here it is an address.
    *address = value == 0 ? std::string("0.0.0.0") : format_dotted(value);
    return true;
}

// The stored texts of one directory by rule number.
std::map<unsigned, std::string> numbered_rules(std::string_view directory,
                                               const std::vector<StoredRule>& stored) {
    std::map<unsigned, std::string> rules;
    for (const StoredRule& rule : stored) {
        std::string dir;
        unsigned number = 0;
        if (split_rule_name(rule.name, &dir, &number) && same_name(dir, directory))
            rules[number] = rule.text;
    }
    return rules;
}

// The dotted text of an address, 0.0.0.0 included.
std::string format_address_text(uint32_t address) {
    return address == 0 ? std::string("0.0.0.0") : format_dotted(address);
}

uint32_t host_order(uint32_t address) {
    return (address >> 24) | ((address >> 8) & 0xFF00u) | ((address << 8) & 0xFF0000u) |
           (address << 24);
}

AccessRow placeholder(std::string_view directory) { return AccessRow{std::string(directory)}; }

bool is_listed(std::string_view directory, const std::vector<std::string>& listed) {
    return std::any_of(listed.begin(), listed.end(),
                       [&](const std::string& d) { return same_name(d, directory); });
}

// The rules the rows make, in list order.
std::vector<StoredRule> numbered_rows(const std::vector<AccessRow>& rows) {
    std::vector<StoredRule> rules;
    const std::string* previous = nullptr;
    unsigned number = 0;
    for (const AccessRow& row : rows) {
        if (!previous || *previous != row.directory) number = 0;
        previous = &row.directory;
        std::string text = rule_text(row);
        if (!text.empty()) rules.push_back(StoredRule{rule_name(row.directory, number++), text});
    }
    return rules;
}

}  // namespace

std::string rights_text(bool read, bool write, bool replace) {
    std::string rights;
    if (read) rights += 'r';
    if (write) rights += replace ? "wo" : "w";
    return rights;
}

int rights_image(std::string_view rights) {
    bool read = rights.find('r') != std::string_view::npos;
    bool write = rights.find('w') != std::string_view::npos;
    return read && write ? 3 : read ? 1 : write ? 2 : 0;
}

bool parse_rule_text(std::string_view text, AccessRow* row) {
    std::size_t comma = text.find(',');
    if (comma == std::string_view::npos) {
        row->rights = std::string(text);
        row->first.clear();
        row->last.clear();
        return true;
    }
    std::string_view range = text.substr(comma + 1);
    std::size_t dash = range.find('-');
    std::string first, last;
    if (!canonical_address(range.substr(0, dash), &first)) return false;
    if (dash != std::string_view::npos && !canonical_address(range.substr(dash + 1), &last))
        return false;
    row->rights = std::string(text.substr(0, comma));
    row->first = std::move(first);
    row->last = std::move(last);
    return true;
}

// A row with only a last address is stored as that single address, which
// comes back as the first.
std::string rule_text(const AccessRow& row) {
    std::string text = row.rights;
    if (row.every_client()) return text;
    text += ',' + row.first;
    if (!row.last.empty()) text += (row.first.empty() ? "" : "-") + row.last;
    return text;
}

bool address_field_value(std::string_view text, std::string* address) {
    if (text.empty()) {
        address->clear();
        return true;
    }
    return canonical_address(text, address);
}

std::string rule_name(std::string_view directory, unsigned number) {
    return std::string(directory) + '\\' + std::to_string(number);
}

bool split_rule_name(std::string_view name, std::string* directory, unsigned* number) {
    std::size_t slash = name.rfind('\\');
    if (slash == std::string_view::npos || slash == 0) return false;
    std::string_view digits = name.substr(slash + 1);
    if (digits.empty() || digits.size() > 9 || (digits.size() > 1 && digits[0] == '0'))
        return false;
    unsigned value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    *directory = std::string(name.substr(0, slash));
    *number = value;
    return true;
}

const StoredRule* find_rule(std::string_view name, const std::vector<StoredRule>& rules) {
    auto it = std::find_if(rules.begin(), rules.end(),
                           [&](const StoredRule& r) { return same_name(r.name, name); });
    return it == rules.end() ? nullptr : &*it;
}

bool row_removable(const std::vector<AccessRow>& rows, std::size_t index) {
    if (index >= rows.size()) return false;
    const std::string& directory = rows[index].directory;
    bool above = index > 0 && rows[index - 1].directory == directory;
    bool below = index + 1 < rows.size() && rows[index + 1].directory == directory;
    return above || below;
}

DirectoryRules directory_rules(std::string_view directory, const std::vector<StoredRule>& stored) {
    std::map<unsigned, std::string> rules = numbered_rules(directory, stored);
    DirectoryRules result;
    std::set<unsigned> shown;
    for (unsigned n = 0;; ++n) {
        auto it = rules.find(n);
        bool readable =
            it != rules.end() && !it->second.empty() && it->second.size() <= kMaxRuleText;
        if (!readable && n > 0) break;
        if (!readable) {
            result.rows.push_back(placeholder(directory));
            continue;
        }
        AccessRow row = placeholder(directory);
        if (!parse_rule_text(it->second, &row)) continue;
        result.rows.push_back(std::move(row));
        shown.insert(n);
    }
    for (const auto& [number, text] : rules) {
        if (!text.empty() && !shown.count(number)) ++result.hidden;
    }
    // A directory always keeps a row, so that rules can be given to it.
    if (result.rows.empty()) result.rows.push_back(placeholder(directory));
    return result;
}

RuleSavePlan plan_rule_save(const std::vector<AccessRow>& rows,
                            const std::vector<std::string>& listedDirectories,
                            const std::vector<StoredRule>& stored) {
    RuleSavePlan plan;
    std::vector<StoredRule> rules = numbered_rows(rows);
    for (const StoredRule& rule : rules) {
        const StoredRule* old = find_rule(rule.name, stored);
        if (!old || old->text != rule.text) plan.writes.push_back(rule);
    }
    for (const StoredRule& old : stored) {
        std::string directory;
        unsigned number = 0;
        if (split_rule_name(old.name, &directory, &number) &&
            is_listed(directory, listedDirectories) && !find_rule(old.name, rules)) {
            plan.removals.push_back(old.name);
        }
    }
    return plan;
}

namespace {

void undo_writes(const std::vector<StoredRule>& written,
                 const std::vector<StoredRule>& stored,
                 const RuleStore& store) {
    for (auto it = written.rbegin(); it != written.rend(); ++it) {
        if (const StoredRule* old = find_rule(it->name, stored)) {
            (void)store.write(*old);
        } else {
            (void)store.remove(it->name);
        }
    }
}

}  // namespace

bool apply_rule_save(const RuleSavePlan& plan,
                     const std::vector<StoredRule>& stored,
                     const RuleStore& store) {
    std::vector<StoredRule> written;
    for (const StoredRule& rule : plan.writes) {
        if (!store.write(rule)) {
            undo_writes(written, stored, store);
            return false;
        }
        written.push_back(rule);
    }
    bool removed = true;
    for (const std::string& name : plan.removals) removed = store.remove(name) && removed;
    return removed;
}

bool rights_from_text(std::string_view text, std::string* rights) {
    bool read = false, write = false, replace = false;
    for (char c : text) {
        bool* letter = c == 'r' ? &read : c == 'w' ? &write : c == 'o' ? &replace : nullptr;
        if (!letter || *letter) return false;
        *letter = true;
    }
    if (text.empty() || (replace && !write)) return false;
    *rights = rights_text(read, write, replace);
    return true;
}

bool range_from_text(std::string_view text, AccessRow* row) {
    if (text == "*") {
        row->first.clear();
        row->last.clear();
        return true;
    }
    std::size_t dash = text.find('-');
    uint32_t first = 0, last = 0;
    if (!parse_dotted_strict(text.substr(0, dash), &first)) return false;
    if (dash != std::string_view::npos) {
        if (!parse_dotted_strict(text.substr(dash + 1), &last)) return false;
        if (host_order(first) > host_order(last)) return false;
    }
    row->first = format_address_text(first);
    row->last = dash == std::string_view::npos ? std::string() : format_address_text(last);
    return true;
}

std::string range_text(const AccessRow& row) {
    if (row.every_client()) return "*";
    if (row.first.empty()) return row.last;
    return row.last.empty() ? row.first : row.first + "-" + row.last;
}

bool directory_key_from_text(std::string_view text, std::string* directory) {
    if (same_name(text, kRootDirectoryKey)) {
        *directory = std::string(kRootDirectoryKey);
        return true;
    }
    if (text.empty() || text == "." || text == ".." || text.size() > kMaxRuleText) return false;
    for (char c : text)
        if (c == '\\' || c == '/' || static_cast<unsigned char>(c) < 0x20) return false;
    *directory = std::string(text);
    return true;
}
