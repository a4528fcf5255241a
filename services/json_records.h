#pragma once
#include <map>
#include <string>
#include <vector>

// Kinds of request records.
constexpr int kRecordString = 0;     // quoted string
constexpr int kRecordRaw = 1;        // number, true or false, written unchanged
constexpr int kRecordBeginObject = 2; // opens a nested object named `key`
constexpr int kRecordEndObject = 3;  // closes the innermost nested object

// One member of a launcher-server request body.
struct KrRequestRecord
{
    std::string key;
    std::string value;
    int kind = kRecordString;
};

// The request body: tab-indented JSON, one member per line. Keys and string values are escaped; a raw
// value is written unchanged when it is a JSON number, true, false or null, else as a string.
std::string WriteRecords(const std::vector<KrRequestRecord>& records);

// Tolerant scan of a server answer into a flat key -> text map (nested members become top-level
// keys, their object's key maps to ""; true/false become "1"/"0"). Also reads the -key=value form.
// Never fails: malformed text yields fewer keys.
void ParseFlat(const std::string& text, std::map<std::string, std::string>& values);

// Decodes the body of a JSON string (the text between its quotes). Stops at the first bad escape,
// keeping what was decoded so far.
std::string UnescapeJsonString(const std::string& text);
