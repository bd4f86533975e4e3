#include "platform/reg_file.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace platform {
namespace {

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kHeaderVersion5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kLineEnd = "\r\n";

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

std::size_t skip_blanks(const std::string& line, std::size_t pos) {
    while (pos < line.size() && is_blank(line[pos])) ++pos;
    return pos;
}

// Hex data continues on the next line when a line ends with a backslash.
bool continues(const std::string& line) {
    std::string_view s = trim(line);
    return !s.empty() && s.back() == '\\';
}

bool starts_section(const std::string& line) {
    std::string_view s = trim(line);
    return !s.empty() && s.front() == '[';
}

// A line-oriented file cannot hold these inside a value: a CR or LF would end
// the line and let the rest of the text pose as further values or keys.
bool representable(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::string quote(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 2);
    out += '"';
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

// Reads a quoted string starting at line[pos] == '"'. regedit escapes only a
// backslash and a quote (\\ and \" in the file); any other backslash is taken
// literally, as a hand edit most likely meant it. Returns the position after
// the closing quote, or npos when the string is not terminated or holds a bare
// CR.
std::size_t unquote(const std::string& line, std::size_t pos, std::string* out) {
    out->clear();
    for (std::size_t i = pos + 1; i < line.size(); ++i) {
        char c = line[i];
        if (c == '"') return i + 1;
        if (c == '\r') return std::string::npos;
        if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '\\' || line[i + 1] == '"')) {
            c = line[++i];
        }
        *out += c;
    }
    return std::string::npos;
}

std::vector<std::string> split_lines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.emplace_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

bool is_header(std::string_view line) {
    line = trim(line);
    return line == kHeader || line == kHeaderVersion5;
}

// The key named by a section header; empty for a deletion section ("[-...]")
// and for a header without its closing bracket, which no lookup then matches.
std::string header_key(const std::string& line) {
    std::string_view s = trim(line);
    std::size_t close = s.rfind(']');
    if (s.size() < 2 || s[1] == '-' || close == std::string_view::npos) return {};
    return std::string(s.substr(1, close - 1));
}

}  // namespace

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}

std::string section_key(std::string_view product_key, std::string_view section) {
    std::string key(product_key);
    if (!equal_ignoring_case(section, "Pravlen")) {
        key += '\\';
        key += section;
    }
    return key;
}

RegFile::RegFile() : preamble_{""} {}

std::optional<RegFile> RegFile::parse(std::string_view text) {
    if (text.find('\0') != std::string_view::npos) return std::nullopt;
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
        text.remove_prefix(kByteOrderMark.size());
    std::vector<std::string> lines = split_lines(text);
    if (lines.empty() || !is_header(lines[0])) return std::nullopt;

    RegFile file;
    file.preamble_.clear();
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (starts_section(lines[i])) {
            file.sections_.push_back(Section{lines[i], header_key(lines[i]), {}});
        } else if (file.sections_.empty()) {
            file.preamble_.push_back(lines[i]);
        } else {
            Item item = parse_value(lines[i]);
            if (item.kind == Kind::kOther) {
                while (continues(item.lines.back()) && i + 1 < lines.size() &&
                       !starts_section(lines[i + 1])) {
                    item.lines.push_back(lines[++i]);
                }
            }
            file.sections_.back().items.push_back(std::move(item));
        }
    }
    return file;
}

// Classifies one line of a section: `"name"="text"` (or `@="text"`) is a
// string value, `"name"=-` a deletion, any other data after `"name"=` a value
// of another type. Blanks around "=" are accepted. Lines that name no value
// stay opaque.
RegFile::Item RegFile::parse_value(const std::string& line) {
    Item item;
    item.lines.push_back(line);
    std::size_t pos = skip_blanks(line, 0);
    if (pos < line.size() && line[pos] == '@') {
        ++pos;
    } else if (pos < line.size() && line[pos] == '"') {
        pos = unquote(line, pos, &item.name);
        if (pos == std::string::npos) return opaque(line);
    } else {
        return item;
    }
    pos = skip_blanks(line, pos);
    if (pos >= line.size() || line[pos] != '=') return opaque(line);
    item.name_end = pos + 1;

    std::string_view data = trim(std::string_view(line).substr(item.name_end));
    item.kind = Kind::kOther;
    if (data == "-") {
        item.kind = Kind::kDeletion;
    } else if (!data.empty() && data.front() == '"') {
        std::size_t start = line.find('"', item.name_end);
        std::size_t end = unquote(line, start, &item.text);
        if (end != std::string::npos && skip_blanks(line, end) == line.size())
            item.kind = Kind::kString;
    }
    if (item.kind != Kind::kString) item.text.clear();
    return item;
}

std::vector<const RegFile::Section*> RegFile::sections_of(std::string_view key) const {
    std::vector<const Section*> found;
    for (const Section& section : sections_) {
        if (!section.key.empty() && equal_ignoring_case(section.key, key))
            found.push_back(&section);
    }
    return found;
}

// The entry that decides the value: the last one of that name in the last
// section of that key that has one.
const RegFile::Item* RegFile::find_value(std::string_view key, std::string_view name) const {
    const Item* found = nullptr;
    for (const Section* section : sections_of(key)) {
        for (const Item& item : section->items) {
            if (item.kind != Kind::kOpaque && equal_ignoring_case(item.name, name)) found = &item;
        }
    }
    return found;
}

RegFile::Item* RegFile::find_value(std::string_view key, std::string_view name) {
    return const_cast<Item*>(std::as_const(*this).find_value(key, name));
}

std::optional<std::string> RegFile::get(std::string_view key, std::string_view name) const {
    const Item* item = find_value(key, name);
    if (!item || item->kind != Kind::kString) return std::nullopt;
    return item->text;
}

bool RegFile::has_key(std::string_view key) const { return !sections_of(key).empty(); }

std::vector<std::pair<std::string, std::string>> RegFile::values(std::string_view key) const {
    std::vector<std::pair<std::string, std::string>> found;
    for (const Section* section : sections_of(key)) {
        for (const Item& item : section->items) {
            // Only the entry that decides a name reports it.
            if (item.kind == Kind::kString && find_value(key, item.name) == &item)
                found.emplace_back(item.name, item.text);
        }
    }
    return found;
}

bool RegFile::set(std::string_view key, std::string_view name, std::string_view text) {
    // "[-" would begin a deletion section.
    if (key.empty() || key.front() == '-' || !representable(key) || !representable(name) ||
        !representable(text)) {
        return false;
    }

    if (Item* item = find_value(key, name)) {
        std::string prefix = item->lines[0].substr(0, item->name_end);
        *item = Item{
            Kind::kString, {prefix + quote(text)}, item->name, item->name_end, std::string(text)};
        return true;
    }

    std::string prefix = name.empty() ? std::string("@=") : quote(name) + "=";
    Item item{
        Kind::kString, {prefix + quote(text)}, std::string(name), prefix.size(), std::string(text)};
    std::vector<Item>& items = section_for_new_value(key).items;
    auto last_value = std::find_if(items.rbegin(), items.rend(),
                                   [](const Item& i) { return i.kind != Kind::kOpaque; });
    auto at = last_value.base();  // just after the last value, or the header
    if (at != items.begin() && continues(std::prev(at)->lines.back())) {
        // A value whose continuation was cut short by the end of its section
        // would take the next line as more data.
        at = std::next(items.insert(at, opaque("")));
    }
    items.insert(at, std::move(item));
    return true;
}

RegFile::Section& RegFile::section_for_new_value(std::string_view key) {
    for (auto it = sections_.rbegin(); it != sections_.rend(); ++it) {
        if (!it->key.empty() && equal_ignoring_case(it->key, key)) return *it;
    }
    append_section(key);
    return sections_.back();
}

// A new key goes to the end of the file, set off by a blank line as regedit
// writes keys.
void RegFile::append_section(std::string_view key) {
    const std::string* last = last_line();
    if (!last || !trim(*last).empty()) {
        if (sections_.empty()) {
            preamble_.push_back("");
        } else {
            sections_.back().items.push_back(opaque(""));
        }
    }
    std::string header;
    header.reserve(key.size() + 2);
    header.append("[").append(key).append("]");
    sections_.push_back(Section{std::move(header), std::string(key), {opaque("")}});
}

// The last line of the file; null for the header line.
const std::string* RegFile::last_line() const {
    if (sections_.empty()) return preamble_.empty() ? nullptr : &preamble_.back();
    const Section& section = sections_.back();
    return section.items.empty() ? &section.header : &section.items.back().lines.back();
}

RegFile::Item RegFile::opaque(std::string line) {
    return Item{Kind::kOpaque, {std::move(line)}, {}, 0, {}};
}

RegFile::EraseResult RegFile::erase(std::string_view key, std::string_view name) {
    if (!has_key(key)) return EraseResult::kNoKey;
    const Item* current = find_value(key, name);
    if (!current || current->kind == Kind::kDeletion) return EraseResult::kNoValue;
    for (Section& section : sections_) {
        if (section.key.empty() || !equal_ignoring_case(section.key, key)) continue;
        std::erase_if(section.items, [&](const Item& item) {
            return item.kind != Kind::kOpaque && equal_ignoring_case(item.name, name);
        });
    }
    return EraseResult::kErased;
}

std::string RegFile::serialise() const {
    std::string out;
    auto put = [&out](std::string_view line) {
        out += line;
        out += kLineEnd;
    };
    put(kHeader);
    for (const std::string& line : preamble_) put(line);
    for (const Section& section : sections_) {
        put(section.header);
        for (const Item& item : section.items) {
            for (const std::string& line : item.lines) put(line);
        }
    }
    return out;
}

}  // namespace platform
