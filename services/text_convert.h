#pragma once
#include <cstdint>
#include <string>

// Code page 0xFFFFFFFF stands for the process default, which is 1252 until set otherwise.
constexpr uint32_t kDefaultCodePage = 0xFFFFFFFFu;

uint32_t GetProcessCodePage();
void SetProcessCodePage(uint32_t codePage);

// Convert a NUL-terminated string; the result counts the terminator, 0 means failure, and with a
// null destination or zero capacity the needed size is returned.
int MultiByteToWide(const char* src, char16_t* dst, int dstChars, uint32_t codePage);
int WideToMultiByte(const char16_t* src, char* dst, int dstBytes, uint32_t codePage);

// Whole-string forms; an unconvertible input gives an empty result.
std::u16string ToWide(const std::string& text, uint32_t codePage = kDefaultCodePage);
std::string ToNarrow(const std::u16string& text, uint32_t codePage = kDefaultCodePage);
