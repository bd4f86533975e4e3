// A REGEDIT4 text file as an editable model: the header, then sections named
// by a registry key path, each holding values. Only string values are read
// and written; everything else the model does not understand (comments,
// dword and hex values with their continuation lines, "@=" default values,
// "[-...]" deletion sections, keys of other products) is kept verbatim and in
// place when the file is written back.
//
// The model follows what importing the file would leave in the registry:
// key paths and value names match without regard to case, and when a key or a
// value appears more than once, the last one wins. Deletion sections and
// "=-" value deletions are not applied to other sections; a value whose last
// entry is "=-" reads as missing.
//
// Pure code: no file or OS access.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// The key path of the product key in the store file.
inline constexpr std::string_view kStoreProductKey =
    "HKEY_LOCAL_MACHINE\\Software\\Velquin\\Pravlen";

// The key of a settings section under `product_key`: the section "Pravlen"
// (compared without regard to case) is the product key itself, any other
// section the subkey of that name.
std::string section_key(std::string_view product_key, std::string_view section);

// ASCII comparison without regard to case, as the registry compares names.
bool equal_ignoring_case(std::string_view a, std::string_view b);

class RegFile {
  public:
    // An empty file: the header and nothing else.
    RegFile();

    // Parses a file; nullopt when the text is not a registry file: no
    // "REGEDIT4" or "Windows Registry Editor Version 5.00" header on the first
    // line (after an optional UTF-8 byte order mark), or a NUL byte anywhere.
    // LF and CR LF line ends are both read.
    static std::optional<RegFile> parse(std::string_view text);

    // The text of a string value; nullopt when the key or value is missing or
    // the value is not a string (dword, hex, ...). The empty name is the
    // key's default value ("@").
    std::optional<std::string> get(std::string_view key, std::string_view name) const;

    bool has_key(std::string_view key) const;

    // The string values of a key in file order, each name once as `get`
    // would read it (the last entry decides; a deleted or non-string value
    // is left out). Pairs of name and text.
    std::vector<std::pair<std::string, std::string>> values(std::string_view key) const;

    // Stores a string value, creating the key at the end of the file when
    // needed. An existing value of any type is replaced in place and keeps the
    // spelling of its name as stored, as the registry keeps it. Refused
    // (false, nothing changes) when the key, name or text holds CR, LF or NUL,
    // which the line format cannot represent, or when the key is empty or
    // begins with '-' (the mark of a deletion section).
    [[nodiscard]] bool set(std::string_view key, std::string_view name, std::string_view text);

    enum class EraseResult { kErased, kNoKey, kNoValue };

    // Removes a value of any type (every entry of it, so that no earlier
    // duplicate comes back). The key stays, even when it is left empty.
    EraseResult erase(std::string_view key, std::string_view name);

    // The file as text: "REGEDIT4" and CR LF line ends; unchanged lines keep
    // their bytes.
    std::string serialise() const;

  private:
    enum class Kind { kOpaque, kString, kDeletion, kOther };

    // One line, or a value with its continuation lines.
    struct Item {
        Kind kind = Kind::kOpaque;
        std::vector<std::string> lines;
        std::string name;          // unescaped; empty for "@"
        std::size_t name_end = 0;  // length of the name and "=" in lines[0]
        std::string text;          // unescaped data of a string value
    };

    struct Section {
        std::string header;
        std::string key;  // empty for deletion sections and malformed headers
        std::vector<Item> items;
    };

    std::vector<const Section*> sections_of(std::string_view key) const;
    const Item* find_value(std::string_view key, std::string_view name) const;
    Item* find_value(std::string_view key, std::string_view name);
    Section& section_for_new_value(std::string_view key);
    void append_section(std::string_view key);
    const std::string* last_line() const;

    static Item parse_value(const std::string& line);
    static Item opaque(std::string line);

    std::vector<std::string> preamble_;  // lines between the header and the first section
    std::vector<Section> sections_;
};

}  // namespace platform
