// The control panel's own values per Windows user, kept as REG_SZ text under
// HKEY_CURRENT_USER\Software\Velquin\Pravlen. The environment variable
// PRAVLEN_USER_KEY may name another key under HKEY_CURRENT_USER, so that
// tests never touch the user's own values.
#pragma once

#include <cstddef>
#include <string>

std::string user_key_path();

// The integer value `name` ("%d" text); missing, empty or not a number gives
// `fallback`.
int read_user_setting(const char* name, int fallback);

// The text value `name` into `buffer` of `size` characters; false (and an
// empty buffer) when the key or value is missing, not text, or longer than
// the buffer.
bool read_user_text(const char* name, char* buffer, std::size_t size);

// Stores `text` (the key is created when missing). With `withNul` false the
// stored data length leaves out the terminating NUL, as the placement values
// are written.
bool write_user_text(const char* name, const char* text, bool withNul = true);
bool delete_user_value(const char* name);

// A placement value ("left", "top", "width", "height"): 0 deletes the value.
void store_placement_value(const char* name, int value);
