// Access rules: stored texts to rows and back, the rows of a directory, and
// which stored values a save writes and removes.
#include "rules/access_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

TEST(AccessRulesTest, RuleTextReadsIntoARowAndBack) {
    struct Case {
        const char* text;
        bool ok;
        AccessRow row;       // directory left empty
        const char* stored;  // the row stored again
    };
    const Case cases[] = {
        {"r,10.0.0.1-10.0.0.9", true, {"", "r", "10.0.0.1", "10.0.0.9"}, "r,10.0.0.1-10.0.0.9"},
        {"rw", true, {"", "rw", "", ""}, "rw"},
        {"wo,192.168.0.7", true, {"", "wo", "192.168.0.7", ""}, "wo,192.168.0.7"},
        {"rwo,010.0.0.1x", true, {"", "rwo", "10.0.0.1", ""}, "rwo,10.0.0.1"},
        {"r,0.0.0.0-255.255.255.255",
         true,
         {"", "r", "0.0.0.0", "255.255.255.255"},
         "r,0.0.0.0-255.255.255.255"},
        {",10.1.1.1", true, {"", "", "10.1.1.1", ""}, ",10.1.1.1"},
        {"", true, {"", "", "", ""}, ""},
        {"r,", false, {}, ""},
        {"r,10.0.0.256", false, {}, ""},
        {"r,10.0.0", false, {}, ""},
        {"r,10.0.0.1-", false, {}, ""},
        {"r,10.0.0.1-x", false, {}, ""},
        {"r, 10.0.0.1", false, {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        AccessRow row{"boot", "keep", "1.1.1.1", ""};
        ASSERT_EQ(parse_rule_text(c.text, &row), c.ok);
        if (!c.ok) {
            EXPECT_EQ(row, (AccessRow{"boot", "keep", "1.1.1.1", ""}));
            continue;
        }
        AccessRow expected = c.row;
        expected.directory = "boot";
        EXPECT_EQ(row, expected);
        EXPECT_EQ(rule_text(row), c.stored);
    }
}

// A row with only a last address (its first field emptied) is stored as that
// single address, and comes back with it as the first.
TEST(AccessRulesTest, RowWithOnlyALastAddressComesBackAsTheFirst) {
    AccessRow row{"a", "r", "", "10.1.1.1"};
    EXPECT_FALSE(row.every_client());
    EXPECT_EQ(rule_text(row), "r,10.1.1.1");
    AccessRow back{"a"};
    ASSERT_TRUE(parse_rule_text(rule_text(row), &back));
    EXPECT_EQ(back, (AccessRow{"a", "r", "10.1.1.1", ""}));
}

TEST(AccessRulesTest, RightsBoxesAndIcons) {
    struct Case {
        bool read, write, replace;
        const char* rights;
        int image;
    };
    const Case cases[] = {
        {false, false, false, "", 0}, {true, false, false, "r", 1}, {false, true, false, "w", 2},
        {true, true, false, "rw", 3}, {true, true, true, "rwo", 3}, {false, true, true, "wo", 2},
        {true, false, true, "r", 1},  // unchecking Write drops the o
        {false, false, true, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rights);
        EXPECT_EQ(rights_text(c.read, c.write, c.replace), c.rights);
        EXPECT_EQ(rights_image(c.rights), c.image);
    }
    EXPECT_EQ(rights_image("o"), 0);
    EXPECT_EQ(rights_image("wr"), 3);
}

TEST(AccessRulesTest, AddressFieldTakesOnlyAWholeAddress) {
    struct Case {
        const char* text;
        bool ok;
        const char* address;
    };
    const Case cases[] = {
        {"", true, ""},
        {"10.0.0.1", true, "10.0.0.1"},
        {"010.000.0.1", true, "10.0.0.1"},
        {"10.0.0.1.", true, "10.0.0.1"},
        {"10.0.0.", false, ""},
        {"10.0.0", false, ""},
        {"10.0.0.300", false, ""},
        {".", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string address = "old";
        ASSERT_EQ(address_field_value(c.text, &address), c.ok);
        EXPECT_EQ(address, c.ok ? c.address : "old");
    }
}

TEST(AccessRulesTest, RuleNamesSplitIntoDirectoryAndNumber) {
    struct Case {
        const char* name;
        bool ok;
        const char* directory;
        unsigned number;
    };
    const Case cases[] = {
        {"%root%\\0", true, "%root%", 0},
        {"boot\\12", true, "boot", 12},
        {"a\\b\\3", true, "a\\b", 3},
        {"boot\\01", false, "", 0},
        {"boot\\", false, "", 0},
        {"\\1", false, "", 0},
        {"boot", false, "", 0},
        {"boot\\1x", false, "", 0},
        {"boot\\1234567890", false, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string directory;
        unsigned number = 99;
        ASSERT_EQ(split_rule_name(c.name, &directory, &number), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(directory, c.directory);
        EXPECT_EQ(number, c.number);
        EXPECT_EQ(rule_name(directory, number), c.name);
    }
}

std::vector<std::string> texts(const DirectoryRules& rules) {
    std::vector<std::string> out;
    for (const AccessRow& row : rules.rows) {
        std::string text = rule_text(row);
        out.push_back(row.directory + ":" + (text.empty() ? "*" : text));
    }
    return out;
}

TEST(AccessRulesTest, RowsOfADirectory) {
    struct Case {
        const char* what;
        std::vector<StoredRule> stored;
        std::vector<std::string> rows;
        int hidden;
    };
    const std::string tooLong = "r," + std::string(62, '1');
    const Case cases[] = {
        {"no rules: a placeholder", {}, {"boot:*"}, 0},
        {"in order, names without regard to case",
         {{"BOOT\\1", "rw"}, {"boot\\0", "r,10.0.0.1-10.0.0.9"}, {"other\\0", "w"}},
         {"boot:r,10.0.0.1-10.0.0.9", "boot:rw"},
         0},
        {"a gap ends the list", {{"boot\\0", "r"}, {"boot\\2", "w"}}, {"boot:r"}, 1},
        {"an empty rule ends the list",
         {{"boot\\0", "r"}, {"boot\\1", ""}, {"boot\\2", "w"}},
         {"boot:r"},
         1},
        {"an invalid address is skipped",
         {{"boot\\0", "r,10.0.0.300"}, {"boot\\1", "w,10.0.0.1"}},
         {"boot:w,10.0.0.1"},
         1},
        {"only an invalid rule: a placeholder", {{"boot\\0", "r,x"}}, {"boot:*"}, 1},
        {"a missing rule 0 still gives its row", {{"boot\\1", "r"}}, {"boot:*", "boot:r"}, 0},
        {"a text the server cannot read", {{"boot\\0", tooLong}}, {"boot:*"}, 1},
        {"deeper and odd names are not this directory's",
         {{"boot\\sub\\0", "r"}, {"boot\\01", "r"}, {"boot", "r"}},
         {"boot:*"},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DirectoryRules rules = directory_rules("boot", c.stored);
        EXPECT_EQ(texts(rules), c.rows);
        EXPECT_EQ(rules.hidden, c.hidden);
    }
}

TEST(AccessRulesTest, ADirectoryNeverLosesItsLastRow) {
    const std::vector<AccessRow> rows = {{"%root%"}, {"a", "r"}, {"a"}, {"b"}, {"c"}, {"c"}};
    const bool removable[] = {false, true, true, false, true, true};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(row_removable(rows, i), removable[i]);
    }
    EXPECT_FALSE(row_removable(rows, rows.size()));
}

std::vector<std::string> writes(const RuleSavePlan& plan) {
    std::vector<std::string> out;
    for (const StoredRule& rule : plan.writes) out.push_back(rule.name + "=" + rule.text);
    return out;
}

TEST(AccessRulesTest, SavePlan) {
    struct Case {
        const char* what;
        std::vector<AccessRow> rows;
        std::vector<StoredRule> stored;
        std::vector<std::string> writes;
        std::vector<std::string> removals;
    };
    const std::vector<AccessRow> placeholders = {{"%root%"}, {"a"}, {"b"}};
    const Case cases[] = {
        {"placeholders store nothing", placeholders, {}, {}, {}},
        {"numbers restart per directory and skip placeholders",
         {{"%root%", "r"},
          {"%root%"},
          {"%root%", "rw", "10.0.0.5", ""},
          {"a"},
          {"a", "wo", "192.168.0.7", ""},
          {"b", "", "10.1.1.1", ""}},
         {},
         {"%root%\\0=r", "%root%\\1=rw,10.0.0.5", "a\\0=wo,192.168.0.7", "b\\0=,10.1.1.1"},
         {}},
        {"unchanged rules are not written again, surplus ones removed",
         {{"%root%", "r"}, {"a"}, {"b"}},
         {{"%ROOT%\\0", "r"}, {"%root%\\1", "w"}, {"a\\0", "r"}, {"a\\2", "r,x"}},
         {},
         {"%root%\\1", "a\\0", "a\\2"}},
        {"rules of directories not listed stay",
         {{"%root%"}, {"a"}, {"b"}},
         {{"a\\sub\\0", "r"}, {"gone\\0", "rw"}, {"a\\01", "r"}, {"Used", "1"}},
         {},
         {}},
        {"a changed text is rewritten in place",
         {{"a", "rw", "10.0.0.1", "10.0.0.9"}},
         {{"A\\0", "rw,10.0.0.1"}},
         {"a\\0=rw,10.0.0.1-10.0.0.9"},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RuleSavePlan plan = plan_rule_save(c.rows, {"%root%", "a", "b"}, c.stored);
        EXPECT_EQ(writes(plan), c.writes);
        EXPECT_EQ(plan.removals, c.removals);
    }
}

TEST(AccessRulesTest, RuleTextsOfTheCommandLine) {
    struct Case {
        const char* rights;
        const char* takenRights;  // empty: refused
    };
    const Case rights[] = {
        {"r", "r"}, {"wr", "rw"}, {"owr", "rwo"}, {"wo", "wo"}, {"o", ""},
        {"ro", ""}, {"rr", ""},   {"rx", ""},     {"", ""},     {"R", ""},
    };
    for (const Case& c : rights) {
        SCOPED_TRACE(c.rights);
        std::string taken;
        EXPECT_EQ(rights_from_text(c.rights, &taken), *c.takenRights != '\0');
        if (*c.takenRights) {
            EXPECT_EQ(taken, c.takenRights);
        }
    }
    struct RangeCase {
        const char* text;
        bool ok;
        const char* shown;
    };
    const RangeCase ranges[] = {
        {"*", true, "*"},
        {"10.0.0.5", true, "10.0.0.5"},
        {"010.0.0.5", true, "10.0.0.5"},
        {"0.0.0.0", true, "0.0.0.0"},
        {"10.0.0.1-10.0.0.99", true, "10.0.0.1-10.0.0.99"},
        {"10.0.0.9-10.0.0.9", true, "10.0.0.9-10.0.0.9"},
        {"9.255.255.255-10.0.0.0", true, "9.255.255.255-10.0.0.0"},
        {"10.0.0.99-10.0.0.1", false, ""},
        {"10.0.1.0-10.0.0.255", false, ""},
        {"10.0.0.1-", false, ""},
        {"10.0.0.1x", false, ""},
        {"", false, ""},
        {"10.0.0.256", false, ""},
    };
    for (const RangeCase& c : ranges) {
        SCOPED_TRACE(c.text);
        AccessRow row{"boot", "r"};
        EXPECT_EQ(range_from_text(c.text, &row), c.ok);
        if (c.ok) {
            EXPECT_EQ(range_text(row), c.shown);
        }
    }
    struct DirectoryCase {
        const char* text;
        const char* key;  // empty: refused
    };
    const DirectoryCase directories[] = {
        {"%root%", "%root%"},
        {"%ROOT%", "%root%"},
        {"boot", "boot"},
        {"10.0.0.5", "10.0.0.5"},
        {"a/b", ""},
        {"a\\b", ""},
        {"..", ""},
        {".", ""},
        {"", ""},
        {"a\nb", ""},
    };
    for (const DirectoryCase& c : directories) {
        SCOPED_TRACE(c.text);
        std::string key;
        EXPECT_EQ(directory_key_from_text(c.text, &key), *c.key != '\0');
        if (*c.key) {
            EXPECT_EQ(key, c.key);
        }
    }
}

// A store that refuses the write of one name, and records what it holds.
struct FakeStore {
    std::vector<StoredRule> values;
    std::string refuseWrite, refuseRemove;

    RuleStore ops() {
        return RuleStore{[this](const StoredRule& rule) {
                             if (rule.name == refuseWrite) return false;
                             std::erase_if(values, [&](auto& v) { return v.name == rule.name; });
                             values.push_back(rule);
                             return true;
                         },
                         [this](const std::string& name) {
                             if (name == refuseRemove) return false;
                             return std::erase_if(values, [&](auto& v) { return v.name == name; }) >
                                    0;
                         }};
    }
    std::string text() const {
        std::vector<std::string> lines;
        for (const StoredRule& v : values) lines.push_back(v.name + "=" + v.text);
        std::sort(lines.begin(), lines.end());
        std::string out;
        for (const std::string& l : lines) out += l + ";";
        return out;
    }
};

TEST(AccessRulesTest, ApplyingASaveNeverLosesTheOldRules) {
    const std::vector<StoredRule> stored = {
        {"boot\\0", "r"}, {"boot\\1", "rw,10.0.0.5"}, {"%root%\\0", "r"}};
    // boot gets one new rule first and loses its old two.
    std::vector<AccessRow> rows = {{"boot", "w", "", ""}, {"boot", "r", "", ""}};
    RuleSavePlan plan = plan_rule_save(rows, {"boot"}, stored);
    struct Case {
        const char* what;
        const char* refuseWrite;
        const char* refuseRemove;
        bool ok;
        const char* after;
    };
    const Case cases[] = {
        {"all written", "", "", true, "%root%\\0=r;boot\\0=w;boot\\1=r;"},
        {"the second write refused: the first undone", "boot\\1", "", false,
         "%root%\\0=r;boot\\0=r;boot\\1=rw,10.0.0.5;"},
        {"the first write refused", "boot\\0", "", false,
         "%root%\\0=r;boot\\0=r;boot\\1=rw,10.0.0.5;"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeStore store{stored, c.refuseWrite, c.refuseRemove};
        EXPECT_EQ(apply_rule_save(plan, stored, store.ops()), c.ok);
        EXPECT_EQ(store.text(), c.after);
    }
    // A removal that fails leaves the new rules in place.
    std::vector<AccessRow> fewer = {{"boot", "w", "", ""}};
    RuleSavePlan shrink = plan_rule_save(fewer, {"boot"}, stored);
    FakeStore store{stored, "", "boot\\1"};
    EXPECT_FALSE(apply_rule_save(shrink, stored, store.ops()));
    EXPECT_EQ(store.text(), "%root%\\0=r;boot\\0=w;boot\\1=rw,10.0.0.5;");
}

}  // namespace
