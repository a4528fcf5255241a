#pragma once
#include <cstdint>
#include <string>

class CKrHttpRequest;

// The launcher's requests to its launcher server. Each one resets `request`, adds its fields (every
// request carries launcher_version 1000) and posts to the server plus its path; the result is
// PostJson's: false when the transfer failed. The answer is then read from `request`.
namespace kr::launcher
{

constexpr const char* kLauncherDataPath = "/launcher/data/";
constexpr const char* kDownloadDataPath = "/launcher/download_data/";
constexpr const char* kLanguageDataPath = "/launcher/language_data/";
constexpr const char* kGameDataPath = "/launcher/game_data/";

bool PostLauncherData(CKrHttpRequest& request, const std::string& server);
bool PostDownloadData(CKrHttpRequest& request, const std::string& server);
bool PostLanguageData(CKrHttpRequest& request, const std::string& server, const std::string& languageCode);
bool PostGameData(CKrHttpRequest& request, const std::string& server, const std::string& launcherHash,
                  uint32_t customerId);

} // namespace kr::launcher
