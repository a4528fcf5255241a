#pragma once
// The launcher window class and its procedure: messages reach the CKrLauncher whose pointer the
// window keeps in its extra bytes.
#include <windows.h>

class CKrLauncher;

namespace kr::win32
{
constexpr const char* kWindowClass = "Quorvale Online";
constexpr const char* kWindowTitle = "Quorvale Online";
constexpr int kIconResource = 107;
// Byte index of the launcher pointer in the window's extra bytes (16 of them).
constexpr int kLauncherSlot = 8;
constexpr int kWindowExtraBytes = 16;
constexpr int kClassExtraBytes = 16;

// Registers the launcher window class; false when registration fails for another reason than an
// existing registration.
bool RegisterLauncherClass(HINSTANCE instance);
// From now on the window's messages go to `launcher`.
void AttachLauncher(HWND window, CKrLauncher* launcher);

// DefWindowProcA until a launcher is attached.
LRESULT CALLBACK LauncherWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
} // namespace kr::win32
