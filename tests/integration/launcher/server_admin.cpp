#include "tests/integration/launcher/server_admin.h"

#include "services/http_post.h"

namespace kr::test
{

std::string AdminCall(const std::string& server, const std::string& call, const std::string& json)
{
    CKrCurlGlobal curl;
    std::string answer;
    if (!PerformHttpPost((server + "/_admin/" + call).c_str(), "", json.c_str(), &answer, nullptr))
        return std::string();
    return answer;
}

rapidjson::Document AdminJson(const std::string& server, const std::string& call, const std::string& json)
{
    rapidjson::Document doc;
    doc.Parse(AdminCall(server, call, json).c_str());
    if (doc.HasParseError())
        doc.SetNull();
    return doc;
}

std::vector<ServerRequest> RecordedLauncherRequests(const std::string& server)
{
    std::vector<ServerRequest> out;
    rapidjson::Document all = AdminJson(server, "requests");
    if (!all.IsArray())
        return out;
    for (const auto& r : all.GetArray())
    {
        std::string path = r["path"].GetString();
        if (path.rfind("/_admin/", 0) == 0)
            continue;
        out.emplace_back();
        out.back().path = path.substr(0, path.find('?'));
        out.back().body.Parse(r["body"].GetString());
    }
    return out;
}

std::string HostPath(const std::string& path)
{
#ifdef _WIN32
    return "Z:" + path;
#else
    return path;
#endif
}

} // namespace kr::test
