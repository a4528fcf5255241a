#pragma once
// The development servers' admin API over the product's own HTTP client, so that the same test talks
// to them natively and under Wine.
#include <string>
#include <vector>

#include <rapidjson/document.h>

namespace kr::test
{

// POSTs `json` to <server>/_admin/<call>; the answer text, "" when the call failed.
std::string AdminCall(const std::string& server, const std::string& call, const std::string& json = "{}");

// The answer of an admin call parsed; a null document when it failed.
rapidjson::Document AdminJson(const std::string& server, const std::string& call, const std::string& json = "{}");

struct ServerRequest
{
    std::string path; // without the query
    rapidjson::Document body;
};
// The launcher requests a server recorded, in order, admin calls left out.
std::vector<ServerRequest> RecordedLauncherRequests(const std::string& server);

// Unix paths from the wrapper reach the same files through Wine's Z: drive.
std::string HostPath(const std::string& path);

} // namespace kr::test
