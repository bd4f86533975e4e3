// The settings store: text values in named sections.
//
// The section "Pravlen" (compared without regard to case) is the product key;
// any other section is a subkey of it. On Windows the store is the registry
// key HKEY_LOCAL_MACHINE\Software\Velquin\Pravlen. Elsewhere, and on Windows
// when the environment variable PRAVLEN_STORE names a file, it is a REGEDIT4
// text file holding the same keys and REG_SZ values. Value names match without
// regard to case.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Chooses the backend at start-up: PRAVLEN_STORE when set, else the registry
// (Windows) or Pravlen.reg in `program_dir` (elsewhere). On Windows the
// environment variable PRAVLEN_KEY may name another key under
// HKEY_LOCAL_MACHINE, so that test servers never touch the product key.
void store_init(const char* program_dir);

// Test hooks: use the REGEDIT4 file at `path`, or the registry key `key`
// (Windows only; returns false elsewhere). Until one of these or store_init
// has run, every read and change fails.
void store_use_file(const std::string& path);
[[nodiscard]] bool store_use_registry(const std::string& key);

// Reads a value; false when the section or value is missing.
[[nodiscard]] bool store_read(const char* section, const char* name, std::string* text);

// Creates the section when needed and stores the text; false when the store
// cannot be written (nothing changes then). The file store also refuses a
// name or text holding CR or LF, which its line format cannot represent.
[[nodiscard]] bool store_write(const char* section, const char* name, const char* text);

// Deletes a value; false when the section or the value is missing or the
// store cannot be written. A section left without values remains.
[[nodiscard]] bool store_delete(const char* section, const char* name);

// One value of a section, as store_list reports it.
struct StoreValue {
    std::string name;
    std::string text;
};

// The text values of a section, in the order the store keeps them, each name
// once (as stored); values of other types are left out. False (and an empty
// list) when the section is missing or the store cannot be read.
[[nodiscard]] bool store_list(const char* section, std::vector<StoreValue>* values);

// A human-readable name of the store in use (a file path or a registry key).
std::string store_location();

}  // namespace platform
