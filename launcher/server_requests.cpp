#include "launcher/server_requests.h"

#include "launcher/launcher_config.h"
#include "services/http_request.h"

namespace kr::launcher
{

namespace
{

void Begin(CKrHttpRequest& request)
{
    // A request object is reused across the handshake; old records must not travel again.
    request.Reset();
    request.AddUnsigned("launcher_version", kLauncherVersion);
}

bool Post(CKrHttpRequest& request, const std::string& server, const char* path)
{
    return request.PostJson(server.c_str(), path);
}

} // namespace

bool PostLauncherData(CKrHttpRequest& request, const std::string& server)
{
    Begin(request);
    return Post(request, server, kLauncherDataPath);
}

bool PostDownloadData(CKrHttpRequest& request, const std::string& server)
{
    Begin(request);
    return Post(request, server, kDownloadDataPath);
}

bool PostLanguageData(CKrHttpRequest& request, const std::string& server, const std::string& languageCode)
{
    Begin(request);
    request.AddField("language_code", languageCode, 0);
    return Post(request, server, kLanguageDataPath);
}

bool PostGameData(CKrHttpRequest& request, const std::string& server, const std::string& launcherHash,
                  uint32_t customerId)
{
    Begin(request);
    request.AddField("launcher_hash", launcherHash, 0);
    request.AddUnsigned("customer_id", customerId);
    return Post(request, server, kGameDataPath);
}

} // namespace kr::launcher
