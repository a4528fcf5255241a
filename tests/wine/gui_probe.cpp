// A small Windows program for the launcher's GUI scenario: finds top-level windows of the running
// launcher and acts on them from inside Wine, where window messages reach them for sure.
//
//   kr_gui_probe wait CLASS TITLE SECONDS   exit 0 once a visible window matches ("-" = any)
//   kr_gui_probe client CLASS TITLE         prints "left top right bottom" of its client area on screen
//   kr_gui_probe text CLASS TITLE           prints the text of a message box
//   kr_gui_probe ok CLASS TITLE             presses OK of a message box
//   kr_gui_probe close CLASS TITLE          posts WM_CLOSE
//   kr_gui_probe style CLASS TITLE          prints the style and extended style in hex
//   kr_gui_probe syserror CODE              prints the system's message text of a Win32 error code
// Exit status 1 when no window matches.
// Copied as "Quorvale.exe", it stands in for the pre-launcher: it writes its arguments, separated by
// blanks, to restart-args.txt in its current directory and ends.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{

const char* OrNull(const char* text)
{
    return std::strcmp(text, "-") == 0 ? nullptr : text;
}

HWND Find(const char* windowClass, const char* title)
{
    HWND window = FindWindowA(OrNull(windowClass), OrNull(title));
    return window && IsWindowVisible(window) ? window : nullptr;
}

int Wait(const char* windowClass, const char* title, double seconds)
{
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < static_cast<DWORD>(seconds * 1000))
    {
        if (Find(windowClass, title))
            return 0;
        Sleep(50);
    }
    return 1;
}

// The static text of a message box, whatever its control id.
BOOL CALLBACK CollectText(HWND child, LPARAM out)
{
    char className[32] = {};
    GetClassNameA(child, className, sizeof(className));
    if (_stricmp(className, "Static") == 0)
    {
        char text[1024] = {};
        // WM_GETTEXT: GetWindowText would not ask a control of another process.
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(child, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000,
                            &ignored);
        *reinterpret_cast<std::string*>(out) += text;
    }
    return TRUE;
}

} // namespace

int main(int argc, char** argv)
{
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const char* name = std::strrchr(self, '\\');
    if (_stricmp(name ? name + 1 : self, "Quorvale.exe") == 0)
    {
        std::string args;
        for (int i = 1; i < argc; ++i)
            args += std::string(i > 1 ? " " : "") + argv[i];
        FILE* out = std::fopen("restart-args.txt", "wb");
        if (!out)
            return 1;
        std::fputs(args.c_str(), out);
        std::fclose(out);
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "syserror") == 0)
    {
        char* text = nullptr;
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(std::atoi(argv[2])), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                       reinterpret_cast<char*>(&text), 0, nullptr);
        std::printf("%s\n", text ? text : "");
        LocalFree(text);
        return 0;
    }
    if (argc < 4)
    {
        std::fprintf(stderr, "usage: kr_gui_probe wait|client|text|ok|close|style CLASS TITLE [SECONDS] | syserror CODE\n");
        return 2;
    }
    const char* command = argv[1];
    if (std::strcmp(command, "wait") == 0)
        return Wait(argv[2], argv[3], argc > 4 ? std::atof(argv[4]) : 10.0);
    HWND window = Find(argv[2], argv[3]);
    if (!window)
        return 1;
    if (std::strcmp(command, "client") == 0)
    {
        RECT client;
        GetClientRect(window, &client);
        POINT topLeft = {client.left, client.top};
        POINT bottomRight = {client.right, client.bottom};
        ClientToScreen(window, &topLeft);
        ClientToScreen(window, &bottomRight);
        std::printf("%ld %ld %ld %ld\n", topLeft.x, topLeft.y, bottomRight.x, bottomRight.y);
    }
    else if (std::strcmp(command, "text") == 0)
    {
        std::string text;
        EnumChildWindows(window, CollectText, reinterpret_cast<LPARAM>(&text));
        std::printf("%s\n", text.c_str());
    }
    else if (std::strcmp(command, "ok") == 0)
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    else if (std::strcmp(command, "close") == 0)
        PostMessageA(window, WM_CLOSE, 0, 0);
    else if (std::strcmp(command, "style") == 0)
        std::printf("%08lx %08lx\n", static_cast<unsigned long>(GetWindowLongA(window, GWL_STYLE)),
                    static_cast<unsigned long>(GetWindowLongA(window, GWL_EXSTYLE)));
    else
        return 2;
    std::fflush(stdout);
    return 0;
}
