#pragma once
// Operating-system seam: conversion between 8-bit code pages and UTF-16.
#include <cstdint>

namespace kr::os {

constexpr uint32_t kCodePageUtf8 = 65001;
constexpr uint32_t kCodePage1252 = 1252;

// The conventions of MultiByteToWideChar / WideToMultiByte with a NUL-terminated source: the result
// counts the terminating NUL; with `dst` null or `dstCount` 0 the needed size is returned; 0 means
// failure (unknown code page, or `dst` too small). No flags, no default character.
int MultiByteToUtf16(uint32_t codePage, const char* src, char16_t* dst, int dstCount);
int Utf16ToMultiByte(uint32_t codePage, const char16_t* src, char* dst, int dstCount);

} // namespace kr::os
