// Names on disk are UTF-16 (NTFS, FAT long names) or 8-bit (FAT short names);
// inside Sorvane every name is UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sorvane {

// UTF-16LE code units to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const char16_t* units, size_t count);
std::string Utf16ToUtf8(std::u16string_view text);
// Decodes `count` UTF-16LE units stored as bytes (no alignment needed).
std::string Utf16LeBytesToUtf8(const uint8_t* bytes, size_t count);
// UTF-8 to UTF-16; invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// An 8-bit FAT short-name byte string (code page 437) to UTF-8.
std::string Cp437ToUtf8(std::string_view text);

// Copies `text` into a fixed field of `capacity` bytes, NUL-terminated, cut at a
// UTF-8 character boundary so the field never ends in half a character.
void CopyNameField(char* field, size_t capacity, std::string_view text);
// The text of a NUL-terminated fixed field (never reads past `capacity`).
std::string NameFromField(const char* field, size_t capacity);

// ASCII lower-casing; bytes >= 0x80 are left as they are.
std::string AsciiLower(std::string_view text);
// Case-insensitive comparison of two names (ASCII letters fold), like strcmp.
int CompareNamesIgnoringCase(std::string_view a, std::string_view b);

}  // namespace sorvane
