#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Maximal runs of characters that are not in `delimiters`; no empty pieces.
std::vector<std::string> Split(const std::string& text, const std::string& delimiters);

// Value of the first "name=" anywhere in `url`, up to the next "&"; `value` is cleared first.
// No percent-decoding.
bool GetUrlParameter(const std::string& name, const std::string& url, std::string& value);

// Drops every blank (character 32).
std::string RemoveBlanks(const std::string& text);

// Decimal text of an unsigned 32-bit number.
std::string UnsignedToText(uint32_t number);

// Strict unsigned 32-bit decimal: digits only, no sign, no blanks, no overflow.
bool ParseUnsigned32(const std::string& text, uint32_t& number);

// Whether the first occurrence of `tail` in `text` is at its end (the launcher's ends-with test).
bool EndsWithFirstOccurrence(const std::string& text, const std::string& tail);
