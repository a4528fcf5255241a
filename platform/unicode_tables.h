#pragma once
// Portable code-page tables, used where the platform has no converter of its own.
#include <cstdint>
#include <string>

namespace kr::text {

// Decodes `src` in code page 1252 or 65001 (UTF-8) to UTF-16, invalid UTF-8 bytes becoming U+FFFD
// as the Windows converter does. Returns false for any other code page.
bool DecodeToUtf16(uint32_t codePage, const char* src, std::u16string& out);
// Encodes UTF-16 to code page 1252 ('?' for characters it lacks) or UTF-8 (unpaired surrogates
// become U+FFFD). Returns false for any other code page.
bool EncodeFromUtf16(uint32_t codePage, const char16_t* src, std::string& out);

} // namespace kr::text
