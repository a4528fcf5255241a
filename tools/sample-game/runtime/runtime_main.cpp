// KelvaneRuntimeMMO.exe, the sample game runtime: records its command line in its user data path and
// shows a small window for a few seconds, so a demo can see that the launcher started it and with what.
#include "tools/sample-game/runtime/start_record.h"

#include <windows.h>

#include <string>

namespace
{

constexpr UINT_PTR kCloseTimer = 1;
constexpr UINT kShowMs = 4000;

std::string g_text;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_TIMER:
        if (wParam == kCloseTimer)
            DestroyWindow(window);
        return 0;
    case WM_PAINT:
    {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT area;
        GetClientRect(window, &area);
        HBRUSH background = CreateSolidBrush(RGB(24, 40, 72));
        FillRect(dc, &area, background);
        DeleteObject(background);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(240, 240, 240));
        InflateRect(&area, -12, -12);
        DrawTextA(dc, g_text.c_str(), static_cast<int>(g_text.size()), &area, DT_LEFT | DT_WORDBREAK);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand)
{
    std::string arguments = commandLine ? commandLine : "";
    std::string userData = kr_sample::OptionValue(arguments, "ProjectUserDataPath");
    bool recorded = !userData.empty() &&
                    kr_sample::WriteStartRecord(kr_sample::StartRecordPath(userData), arguments);
    g_text = std::string("Kelvane Runtime (sample game)\n\nStarted with: ") + arguments +
             (recorded ? "\n\nRecorded in game-start.txt" : "\n\nNo user data path: nothing recorded");

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.lpszClassName = "KelvaneRuntimeSample";
    if (!RegisterClassA(&windowClass))
        return 1;
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "Kelvane Runtime",
                                  WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT, 560,
                                  240, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 1;
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    SetTimer(window, kCloseTimer, kShowMs, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
    {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return recorded ? 0 : 2;
}
