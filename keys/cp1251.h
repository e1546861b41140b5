// Windows-1251, the code page of key names and of Keys.ini: conversion from
// and to UTF-8, letter case for names that match without regard to case, and
// the blanks cut from the ends of names and values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vorsal {

// Converts UTF-8 text to Windows-1251 bytes. Text with a character that has
// no Windows-1251 form, or that is not valid UTF-8, is refused: the result is
// empty and *error (when given) says which character and where. Nothing is
// ever replaced by a substitute.
std::optional<std::string> Utf8ToCp1251(std::string_view utf8, std::string* error = nullptr);

// Converts Windows-1251 bytes to UTF-8. Every byte has a form: the one byte
// the code page leaves unassigned, 0x98, becomes U+0098 (and converts back to
// 0x98), so names read from a file survive the round trip unchanged.
std::string Cp1251ToUtf8(std::string_view bytes);

// Appends the UTF-8 form of a code point (at most U+10FFFF).
void AppendUtf8(std::string& out, char32_t cp);

// True when the text is valid UTF-8 (no overlong form, no surrogate).
bool IsUtf8(std::string_view text);

// Upper case of a Windows-1251 byte: Latin letters and all Cyrillic letters
// of the code page (Ё/ё, Ў/ў, Ґ/ґ, Є/є, Ї/ї, І/і, Ј/ј, Ѕ/ѕ, Ђ/ђ, ...).
// Other bytes are returned unchanged.
std::uint8_t Cp1251ToUpper(std::uint8_t byte);

// True when two Windows-1251 strings are equal without regard to letter case.
bool Cp1251EqualsIgnoreCase(std::string_view a, std::string_view b);

// The text with its blanks, characters of codes 0..32, cut from both ends.
// No byte above 127 is a blank, so this works on UTF-8 and Windows-1251 text
// alike; the Windows-1251 no-break space 0xA0 stays.
std::string_view TrimBlanks(std::string_view text);

// Length of the well-formed UTF-8 sequence at text[pos] (no overlong form,
// no surrogate, nothing above U+10FFFF); 0 when there is none.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos);

}  // namespace vorsal
