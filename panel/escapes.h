// Escape decoding of the texts of a translation file.
#pragma once

#include <cstddef>

// Decodes `text` in place, left to right: "\n" becomes a line feed, "\t" a
// tab, "\\" one backslash, and a backslash before any other character stands
// for that character ("\q" is "q"). A backslash that is the last character is
// dropped and ends the text. Returns the decoded length.
std::size_t decode_escapes(char* text);
