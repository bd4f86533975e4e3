// What the dotted-address edit filter lets through, decided on a copy of the
// control's text and selection.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The longest text the filter keeps: "255.255.255.255".
inline constexpr std::size_t kIpEditMaxLength = 15;
// The largest clipboard block that a paste types.
inline constexpr std::size_t kIpPasteMaxBytes = 16;

// The simulated edits: a typed digit or ".", Backspace, or a deletion (the
// Delete key, or a cut).
inline constexpr char kIpEditBackspace = '\b';
inline constexpr char kIpEditDelete = 0x7F;

// Whether the edit `key` on `text` with the selection [start, end) leaves a
// text whose pieces between dots are each empty or a number up to 255, with
// at most 3 dots and 15 characters.
bool ip_edit_allows(std::string_view text, std::size_t start, std::size_t end, char key);

// The keys a paste types: the digits and dots of a clipboard block of `size`
// bytes (up to its first NUL), in order; nothing for a block over 16 bytes.
std::string ip_paste_keys(const char* block, std::size_t size);
