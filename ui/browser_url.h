#pragma once
// URLs between the launcher's 8-bit text and the control's UTF-16. Both directions are bounded by
// buffers of 4096 units including the terminator; a longer URL is refused rather than cut, so a
// truncated address never reaches the control or the launcher's navigation checks.
#include <cstddef>
#include <string>

constexpr size_t kKrUrlBufferUnits = 4096;

// False when the URL is empty or longer than the buffer allows.
bool WidenUrl(const std::string& url, std::u16string& wide);
// `units` UTF-16 units (a BSTR and its length); false when longer than the buffer allows.
bool NarrowUrl(const wchar_t* units, size_t length, std::string& url);
