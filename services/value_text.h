#pragma once
// Number and text conversions under CKrVariant: the C runtime's readers and printf, without their
// undefined corners (out-of-range results saturate) and with results returned by value.
#include <cstdint>
#include <string>

namespace kr::value {

// Integer at the start of `text` like atoi (base 10) or, with `autoBase`, like wcstol with base 0
// ("0x" hexadecimal, a leading 0 octal); saturates at the 64-bit limits.
int64_t ParseInteger(const std::string& text, bool autoBase);
int64_t ParseInteger(const std::u16string& text, bool autoBase);
// Decimal number at the start of `text`, like atof in the C locale.
double ParseDecimal(const std::string& text);

int32_t SaturateToInt32(int64_t value);
// Negative numbers that fit 32 bits wrap as a cast from int would; the rest saturates.
uint32_t ToUnsigned32(int64_t value);
// Float to integer, toward zero; NaN gives 0 and out-of-range values saturate.
int32_t TruncateToInt32(float value);
uint32_t TruncateToUnsigned32(float value);
int64_t TruncateToInt64(float value);

__attribute__((format(printf, 1, 2))) std::string Printf(const char* format, ...);

// The leading ASCII characters of `text` (only they can form a number).
std::string AsciiPrefix(const std::u16string& text);
// Bytes as code points 0..255.
std::u16string WidenLatin1(const std::string& text);
// Upper case of Latin-1, Latin Extended-A, Greek and Cyrillic letters; others unchanged.
char16_t UpperWide(char16_t c);

} // namespace kr::value
