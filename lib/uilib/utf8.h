#pragma once

#include <string>
#include <string_view>

// UTF-8 layouts become the UTF-16 texts of Windows controls. Ill-formed sequences (overlong forms,
// surrogates, truncated tails) become U+FFFD rather than failing the whole layout.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);
// Appends one code point (at most U+10FFFF) in UTF-8.
void AppendUtf8(std::string& out, char32_t cp);
