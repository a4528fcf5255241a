#include "launcher/win32/window_procedure.h"

#include "launcher/launcher.h"
#include "ui/gdi_renderer.h"

#include <windowsx.h>

namespace kr::win32
{

namespace
{

CKrLauncher* AttachedLauncher(HWND window)
{
    // 32-bit program: the pointer fits the LONG slot.
    return reinterpret_cast<CKrLauncher*>(static_cast<LONG_PTR>(GetWindowLongA(window, kLauncherSlot)));
}

void Paint(HWND window, CKrLauncher& launcher)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    KrDisplayList list = launcher.Paint();
    if (dc)
        DrawDisplayList(dc, list);
    // The renderer leaves the cursor alone; the list says which one belongs to the mouse position.
    ::SetCursor(LoadCursorA(nullptr, list.cursor == KrCursor::Hand ? IDC_HAND : IDC_ARROW));
    EndPaint(window, &paint);
}

} // namespace

bool RegisterLauncherClass(HINSTANCE instance)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    windowClass.lpfnWndProc = LauncherWindowProc;
    windowClass.cbClsExtra = kClassExtraBytes;
    windowClass.cbWndExtra = kWindowExtraBytes;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(kIconResource));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszClassName = kWindowClass;
    return RegisterClassExA(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

void AttachLauncher(HWND window, CKrLauncher* launcher)
{
    SetWindowLongA(window, kLauncherSlot, static_cast<LONG>(reinterpret_cast<LONG_PTR>(launcher)));
}

LRESULT CALLBACK LauncherWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CKrLauncher* launcher = AttachedLauncher(window);
    if (!launcher)
        return DefWindowProcA(window, message, wParam, lParam);
    switch (message)
    {
    case WM_DESTROY:
        launcher->OnDestroy();
        return 0;
    case WM_PAINT:
        Paint(window, *launcher);
        return 0;
    case WM_TIMER:
        // Only the launcher's three timers; any other id is swallowed.
        if (wParam >= 1 && wParam <= 3)
            launcher->OnTimer(static_cast<uint32_t>(wParam));
        return 0;
    case WM_MOUSEMOVE:
        launcher->OnMouseMove(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_LBUTTONDOWN:
        launcher->OnLButtonDown(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_LBUTTONUP:
        launcher->OnLButtonUp(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

} // namespace kr::win32
