// Per-directory access rules as the control panel and the command-line tool
// edit them. The server reads them from the store section "Access": the
// value "<directory>\<n>" holds rule n of the root ("%root%") or of one
// directory directly below it, numbered 0, 1, 2, ... without gaps. Its text
// is the rights letters ("r" read, "w" write, "o" replace an existing file),
// then, unless the rule covers every client, "," and the first address, and
// for a range "-" and the last address.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The directory key of the root directory.
inline constexpr std::string_view kRootDirectoryKey = "%root%";

// The longest rule text the server reads; a longer one reads as missing.
inline constexpr std::size_t kMaxRuleText = 63;

// One rule as an editor shows it. Both addresses empty: every client. A
// first address alone covers that client; with a last address the range.
struct AccessRow {
    std::string directory = {};  // kRootDirectoryKey or a name below the root
    std::string rights = {};
    std::string first = {};  // dotted, canonical, or empty
    std::string last = {};

    bool every_client() const { return first.empty() && last.empty(); }
    bool operator==(const AccessRow&) const = default;
};

// A stored value of the section "Access".
struct StoredRule {
    std::string name;
    std::string text;
};

// The rights letters of three boxes, in the order r, w, o; "o" only with "w".
std::string rights_text(bool read, bool write, bool replace);

// The icon of the rights: 0 none, 1 read only, 2 write only, 3 read and write.
int rights_image(std::string_view rights);

// A stored rule text into the rights and addresses of `row` (its directory
// is left alone). False when an address does not read as four numbers of at
// most 255 (what follows the fourth number is not examined, as the server
// reads it): such a rule covers nobody on the server and is not shown.
[[nodiscard]] bool parse_rule_text(std::string_view text, AccessRow* row);

// The text to store for a row; empty for a row without rights that covers
// every client (a placeholder, never stored).
std::string rule_text(const AccessRow& row);

// What an address field's text makes of an address: the canonical dotted
// text, or empty for an empty field; false (nothing to take) while the text
// does not yet begin with a whole address.
[[nodiscard]] bool address_field_value(std::string_view text, std::string* address);

// The texts of a rule as a command line takes and shows them. Rights: the
// letters r, w and o in any order, each at most once, "o" only with "w";
// they come back in the order r, w, o. A range: "*" for every client, one
// dotted address, or the first and last joined by "-" with the first not
// above the last (the server compares them as numbers, so a reversed range
// would cover nobody). A directory: "%root%" (any case) or one name below
// the root, without separators.
[[nodiscard]] bool rights_from_text(std::string_view text, std::string* rights);
[[nodiscard]] bool range_from_text(std::string_view text, AccessRow* row);
std::string range_text(const AccessRow& row);
[[nodiscard]] bool directory_key_from_text(std::string_view text, std::string* directory);

// The value name of rule `number` of `directory`, and back: false for a name
// that is not a directory, a backslash and a number written without leading
// zeros (the server never reads such a name).
std::string rule_name(std::string_view directory, unsigned number);
[[nodiscard]] bool split_rule_name(std::string_view name, std::string* directory, unsigned* number);

// The stored rule of that name (without regard to case), or null.
const StoredRule* find_rule(std::string_view name, const std::vector<StoredRule>& rules);

// Whether a row may be removed: only while its directory has another row
// beside it, so that every directory keeps one.
bool row_removable(const std::vector<AccessRow>& rows, std::size_t index);

// The rows of one directory as the editor lists them, read from the stored
// values of the section (directory names match without regard to case):
// rules 0, 1, 2, ... up to the first missing or empty one after rule 0; a
// missing rule 0 and a directory without any readable rule give a
// placeholder row (no rights, every client). `hidden` counts the stored
// rules of the directory that are not shown: an invalid address, a text too
// long for the server, or a number after a gap.
struct DirectoryRules {
    std::vector<AccessRow> rows;
    int hidden = 0;
};
DirectoryRules directory_rules(std::string_view directory, const std::vector<StoredRule>& stored);

// How to store the edited rows: the values to write (new or changed), then
// the values to remove. Rows are numbered from 0 per directory in list
// order, placeholders without using a number. Only rules of the directories
// listed are removed, so rules of deeper directories, or of directories the
// editor did not list, stay.
struct RuleSavePlan {
    std::vector<StoredRule> writes;
    std::vector<std::string> removals;
};
RuleSavePlan plan_rule_save(const std::vector<AccessRow>& rows,
                            const std::vector<std::string>& listedDirectories,
                            const std::vector<StoredRule>& stored);

// The store operations a save needs, bound by the caller to its store.
struct RuleStore {
    std::function<bool(const StoredRule&)> write;
    std::function<bool(const std::string& name)> remove;
};

// Carries a plan out: its writes in order, then its removals. A write that
// fails undoes the writes before it (the old text back, or the new value
// removed), so the old rules stay whole. False when a write failed (nothing
// changed then) or a removal failed (the new rules are in place, a surplus
// old one may remain).
bool apply_rule_save(const RuleSavePlan& plan,
                     const std::vector<StoredRule>& stored,
                     const RuleStore& store);
