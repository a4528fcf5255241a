#include "launcher/win32/window_port.h"

#include "launcher/win32/window_procedure.h"
#include "ui/browser_host.h"

#include <shobjidl.h>

CKrWin32Window::CKrWin32Window(HINSTANCE instance, CKrBrowserHost& browser)
    : m_instance(instance), m_browser(browser)
{
}

CKrWin32Window::~CKrWin32Window()
{
    if (m_taskbar)
        m_taskbar->Release();
}

bool CKrWin32Window::CreateSplashWindow(CKrLauncher& launcher)
{
    // Relative on purpose: the picture comes from the current directory. A missing one leaves a
    // 0 x 0 splash and start-up goes on.
    m_splash.Load("Splash.bmp");
    const int width = m_splash.GetWidth();
    const int height = m_splash.GetHeight();

    kr::win32::RegisterLauncherClass(m_instance);
    const int x = GetSystemMetrics(SM_CXSCREEN) / 2 - width / 2;
    const int y = GetSystemMetrics(SM_CYSCREEN) / 2 - height / 2;
    m_window = CreateWindowExA(0, kr::win32::kWindowClass, kr::win32::kWindowTitle, WS_CAPTION | WS_SYSMENU,
                               x, y, width, height, nullptr, nullptr, m_instance, nullptr);
    if (!m_window)
        return false;

    m_hand = LoadCursorA(nullptr, IDC_HAND);
    m_arrow = LoadCursorA(nullptr, IDC_ARROW);
    kr::win32::AttachLauncher(m_window, &launcher);
    SetWindowLongA(m_window, GWL_EXSTYLE, GetWindowLongA(m_window, GWL_EXSTYLE) | WS_EX_LAYERED);
    m_browser.SetWindow(m_window);

    ShowSplash(m_window, x, y, m_splash);
    ShowWindow(m_window, SW_SHOWDEFAULT);
    UpdateWindow(m_window);
    return true;
}

uint32_t CKrWin32Window::RunMessageLoop()
{
    MSG message = {};
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
    {
        // Backspace stays with the page's text fields; the control would turn it into "go back".
        if (!(message.message == WM_KEYDOWN && message.wParam == VK_BACK))
            m_browser.TranslateAccelerator(message);
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<uint32_t>(message.wParam);
}

void CKrWin32Window::SetTimer(uint32_t id, uint32_t periodMs)
{
    ::SetTimer(m_window, id, periodMs, nullptr);
}

void CKrWin32Window::KillTimer(uint32_t id)
{
    ::KillTimer(m_window, id);
}

void CKrWin32Window::ScreenSize(int32_t& width, int32_t& height)
{
    width = GetSystemMetrics(SM_CXSCREEN);
    height = GetSystemMetrics(SM_CYSCREEN);
}

KrFrameMetrics CKrWin32Window::FrameMetrics()
{
    KrFrameMetrics metrics;
    metrics.frameX = GetSystemMetrics(SM_CXFIXEDFRAME);
    metrics.frameY = GetSystemMetrics(SM_CYFIXEDFRAME);
    metrics.caption = GetSystemMetrics(SM_CYCAPTION);
    return metrics;
}

KrRect CKrWin32Window::ClientRect()
{
    RECT client = {};
    GetClientRect(m_window, &client);
    return {client.left, client.top, client.right, client.bottom};
}

void CKrWin32Window::SetStyle(uint32_t style)
{
    SetWindowLongA(m_window, GWL_STYLE, static_cast<LONG>(style));
}

void CKrWin32Window::SetExStyle(uint32_t exStyle)
{
    SetWindowLongA(m_window, GWL_EXSTYLE, static_cast<LONG>(exStyle));
}

void CKrWin32Window::Move(int32_t x, int32_t y, int32_t width, int32_t height)
{
    MoveWindow(m_window, x, y, width, height, FALSE);
}

void CKrWin32Window::Show(bool visible)
{
    ShowWindow(m_window, visible ? SW_SHOW : SW_HIDE);
}

void CKrWin32Window::SetCursor(KrCursor cursor)
{
    ::SetCursor(cursor == KrCursor::Hand ? m_hand : m_arrow);
}

void CKrWin32Window::ShowWideMessage(const std::u16string& text, const std::u16string& caption)
{
    MessageBoxW(m_window, reinterpret_cast<const wchar_t*>(text.c_str()),
                reinterpret_cast<const wchar_t*>(caption.c_str()), MB_OK | MB_ICONINFORMATION);
}

bool CKrWin32Window::CreateTaskbarProgress()
{
    void* taskbar = nullptr;
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_ALL, IID_ITaskbarList3, &taskbar)) || !taskbar)
        return false;
    m_taskbar = static_cast<ITaskbarList3*>(taskbar);
    return true;
}

void CKrWin32Window::SetTaskbarNoProgress()
{
    if (m_taskbar)
        m_taskbar->SetProgressState(m_window, TBPF_NOPROGRESS);
}

void CKrWin32Window::SetTaskbarProgress(uint64_t done, uint64_t total)
{
    if (m_taskbar)
        m_taskbar->SetProgressValue(m_window, done, total);
}

void CKrWin32Window::ShowMessage(const std::string& text, const std::string& caption)
{
    // Before the window exists (an error while the command line is read) the box has no owner.
    MessageBoxA(m_window, text.c_str(), caption.c_str(), MB_OK | MB_ICONINFORMATION);
}

std::string CKrWin32Window::SystemErrorText(uint32_t code)
{
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text;
    if (buffer)
    {
        text.assign(buffer, length);
        LocalFree(buffer);
    }
    return text;
}

void CKrWin32Window::PostQuit()
{
    PostQuitMessage(0);
}

void CKrWin32Window::Invalidate()
{
    InvalidateRect(m_window, nullptr, FALSE);
}
