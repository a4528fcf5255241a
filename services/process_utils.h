#pragma once
#include <string>

// File name (after the last separator) of the running executable.
void GetExecutableName(std::string& name);
std::string GetExecutableName();

// Number of running processes whose executable file name equals `name`, ignoring ASCII case.
int CountProcessesByName(const std::string& name);

// ASCII case-insensitive equality, as the file system compares executable names.
bool EqualsNoCase(const std::string& a, const std::string& b);
