// kr-install --server HOST[:PORT][/PREFIX] --dir DIR [--package NAME] [--helper-build]
//            [--item NAME:SIZE[:extract]]... [--connections N] [--limit-rate KB] [--timeline]
//            [--verify] [--release-key HEX]
//
// Runs one installation engine on DIR until it finishes or fails, with a progress bar on a terminal
// and plain lines otherwise. Exit status: 0 finished, 10 + the engine's error code when it failed,
// 2 for unusable arguments, 130 when interrupted.
#include "install/installer.h"

#ifdef _WIN32
#include <io.h>
#define KR_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define KR_ISATTY(fd) isatty(fd)
#endif

#include <csignal>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace
{

const char kUsage[] =
    "usage: kr-install --server HOST[:PORT][/PREFIX] --dir DIR [--package NAME] [--helper-build]\n"
    "                  [--item NAME:SIZE[:extract]]... [--connections N] [--limit-rate KB] [--timeline]\n"
    "                  [--verify] [--release-key HEX]\n"
    "  --server        download server, without scheme\n"
    "  --dir           installation directory\n"
    "  --package       package base name (helper build; the launcher build always uses Data)\n"
    "  --helper-build  behave as the install helper's engine instead of the launcher's\n"
    "  --item          an extra file fetched by its plain name; with :extract it is unpacked too\n"
    "  --connections   transfers at once, 1 to 4 (default 4)\n"
    "  --limit-rate    kilobytes per second for all transfers together (0: no limit)\n"
    "  --timeline      print when each state began (seen every 20 ms) and the scan's time\n"
    "  --verify        signed releases: hash every installed file and fetch those that differ\n"
    "  --release-key   trust releases signed with this public key (kr-pack --keygen prints one)\n"
    "                  instead of the key this build carries\n";

volatile std::sig_atomic_t g_interrupted = 0;

void OnSignal(int)
{
    g_interrupted = 1;
}

struct Item
{
    std::string name;
    uint32_t size = 0;
    bool extract = false;
};

bool ParseItem(const std::string& text, Item* item)
{
    size_t first = text.find(':');
    if (first == std::string::npos || first == 0)
        return false;
    size_t second = text.find(':', first + 1);
    std::string size =
        text.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    if (size.empty() || size.size() > 10 || size.find_first_not_of("0123456789") != std::string::npos)
        return false;
    unsigned long long value = std::strtoull(size.c_str(), nullptr, 10);
    if (value > 0xFFFFFFFFull)
        return false;
    if (second != std::string::npos && text.substr(second + 1) != "extract")
        return false;
    item->name = text.substr(0, first);
    item->size = static_cast<uint32_t>(value);
    item->extract = second != std::string::npos;
    return true;
}

const char* StateName(int state)
{
    static const char* const kNames[] = {
        "idle",     "deciding", "installing packages", "waiting for DirectX", "verifying", "updating",
        "finished", "failed"};
    return state >= 0 && state <= 7 ? kNames[state] : "unknown";
}

int Usage(const char* message)
{
    if (message)
        std::fprintf(stderr, "kr-install: %s\n", message);
    std::fputs(kUsage, stderr);
    return 2;
}

void DrawBar(int state, float done, float total)
{
    constexpr int kWidth = 30;
    float fraction = total > 0 ? done / total : (state == CKrInstaller::StateFinished ? 1.0f : 0.0f);
    if (fraction > 1.0f)
        fraction = 1.0f;
    int filled = static_cast<int>(fraction * kWidth + 0.5f);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kWidth - filled), '.');
    std::printf("\r[%s] %5.1f%%  %8.1f / %.1f MB  %-20s", bar.c_str(), fraction * 100.0f, done, total,
                StateName(state));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    std::string server, dir, package = "Data";
    bool helper = false;
    bool timeline = false;
    bool verify = false;
    CKrReleaseTrust trust = CKrReleaseTrust::Configured();
    uint64_t release = 0;
    std::vector<std::pair<int, double>> phases; // state, seconds since the start
    std::vector<Item> items;
    int connections = 4;
    uint64_t limitKB = 0;
    for (int i = 1; i < argc; ++i)
    {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "-h" || arg == "--help")
        {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--helper-build")
            helper = true;
        else if (arg == "--timeline")
            timeline = true;
        else if (arg == "--verify")
            verify = true;
        else if ((arg == "--server" || arg == "--dir" || arg == "--package" || arg == "--item" ||
                  arg == "--connections" || arg == "--limit-rate" || arg == "--release-key") &&
                 !hasValue)
            return Usage((arg + " needs a value").c_str());
        else if (arg == "--server")
            server = argv[++i];
        else if (arg == "--dir")
            dir = argv[++i];
        else if (arg == "--package")
            package = argv[++i];
        else if (arg == "--connections")
        {
            char* end = nullptr;
            long n = std::strtol(argv[++i], &end, 10);
            if (!end || *end || n < 1 || n > 4)
                return Usage("--connections wants 1 to 4");
            connections = static_cast<int>(n);
        }
        else if (arg == "--limit-rate")
        {
            char* end = nullptr;
            unsigned long long n = std::strtoull(argv[++i], &end, 10);
            if (!end || *end || argv[i][0] == '-' || n > 4194304)
                return Usage("--limit-rate wants kilobytes per second, 0 to 4194304");
            limitKB = n;
        }
        else if (arg == "--release-key")
        {
            if (ParseReleaseKey(argv[++i], &trust.key) != KrReleaseKeyState::Valid)
                return Usage("--release-key wants 64 hex digits");
            trust.state = KrReleaseKeyState::Valid;
        }
        else if (arg == "--item")
        {
            Item item;
            if (!ParseItem(argv[++i], &item))
                return Usage("--item wants NAME:SIZE or NAME:SIZE:extract");
            items.push_back(item);
        }
        else
            return Usage(("unknown argument " + arg).c_str());
    }
    if (server.empty() || dir.empty())
        return Usage("--server and --dir are required");
    if (server.find("://") != std::string::npos)
        return Usage("--server takes a host without scheme");
    if (package.empty() || package.find_first_of("\\/:*?\"<>|") != std::string::npos)
        return Usage("--package wants a plain name");
    if (verify && trust.state == KrReleaseKeyState::None)
        return Usage("--verify needs a signed release: this build carries no release key, give --release-key");

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    const bool terminal = KR_ISATTY(fileno(stdout)) != 0;
    auto started = std::chrono::steady_clock::now();
    int state = 0, error = 0;
    float done = 0, total = 0;
    CKrInstaller::Counters counters;
    {
        CKrInstaller engine;
        CKrInstallerSettings settings;
        settings.build = helper ? KrInstallerBuild::Helper : KrInstallerBuild::Launcher;
        settings.transfers.connections = connections;
        settings.transfers.rateLimit = limitKB * 1024;
        settings.release = trust;
        settings.verifyInstall = verify;
        // A tool run reports nothing to the metrics service: no events interface.
        engine.Init(package, dir, server, settings);
        for (const Item& item : items)
            engine.AddItem(item.name, item.size, item.extract);
        engine.Start();
        int shownState = -1;
        auto lastLine = started;
        while (!g_interrupted)
        {
            engine.GetStatus(&state, &done, &total, nullptr, nullptr);
            auto now = std::chrono::steady_clock::now();
            if (terminal)
                DrawBar(state, done, total);
            else if (state != shownState || now - lastLine >= std::chrono::seconds(2))
            {
                std::printf("%s: %.1f of %.1f MB\n", StateName(state), done, total);
                std::fflush(stdout);
                lastLine = now;
            }
            if (state != shownState)
                phases.emplace_back(state, std::chrono::duration<double>(now - started).count());
            shownState = state;
            if (state == CKrInstaller::StateFinished || state == CKrInstaller::StateFailed)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        error = engine.GetErrorCode();
        counters = engine.GetCounters();
        if (engine.IsReleaseVerified())
            release = engine.GetRelease();
    }
    if (terminal)
        std::printf("\n");
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (g_interrupted)
    {
        std::printf("interrupted in state %d (%s) after %.1f s\n", state, StateName(state), seconds);
        return 130;
    }
    // Before the summary, which stays the last line for scripts.
    if (timeline)
    {
        std::printf("timeline:");
        for (const std::pair<int, double>& phase : phases)
            std::printf(" %s %.2f s;", StateName(phase.first), phase.second);
        std::printf(" scan %u ms\n", counters.scanMs);
    }
    if (release != 0)
        std::printf("signed release %llu verified%s; %u installed files differed from it\n",
                    static_cast<unsigned long long>(release), verify ? " with every installed file" : "",
                    counters.repairItems);
    std::printf("%s: %u of %u items, %.1f of %.1f MB in %.1f s; %u failed downloads, %u failed extractions; "
                "scan %u ms\n",
                StateName(state), counters.doneItems, counters.totalItems, done, total, seconds,
                counters.downloadFailures, counters.extractFailures, counters.scanMs);
    if (state == CKrInstaller::StateFailed)
    {
        std::printf("error %d (%s)\n", error, KrInstallerErrorName(error));
        return 10 + error;
    }
    return 0;
}
