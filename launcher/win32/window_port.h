#pragma once
// The launcher window on Win32: the splash window that later becomes the main window, its message
// loop, timers, styles, message boxes and the taskbar progress.
#include "launcher/ports.h"
#include "ui/splash_image.h"

#include <windows.h>

class CKrBrowserHost;
struct ITaskbarList3;

class CKrWin32Window : public IKrWindowPort
{
public:
    CKrWin32Window(HINSTANCE instance, CKrBrowserHost& browser);
    ~CKrWin32Window() override;
    CKrWin32Window(const CKrWin32Window&) = delete;
    CKrWin32Window& operator=(const CKrWin32Window&) = delete;

    bool CreateSplashWindow(CKrLauncher& launcher) override;
    uint32_t RunMessageLoop() override;

    void SetTimer(uint32_t id, uint32_t periodMs) override;
    void KillTimer(uint32_t id) override;
    void ScreenSize(int32_t& width, int32_t& height) override;
    KrFrameMetrics FrameMetrics() override;
    KrRect ClientRect() override;
    void SetStyle(uint32_t style) override;
    void SetExStyle(uint32_t exStyle) override;
    void Move(int32_t x, int32_t y, int32_t width, int32_t height) override;
    void Show(bool visible) override;
    void SetCursor(KrCursor cursor) override;
    void ShowWideMessage(const std::u16string& text, const std::u16string& caption) override;

    bool CreateTaskbarProgress() override;
    void SetTaskbarNoProgress() override;
    void SetTaskbarProgress(uint64_t done, uint64_t total) override;

    void ShowMessage(const std::string& text, const std::string& caption) override;
    std::string SystemErrorText(uint32_t code) override;
    void PostQuit() override;
    void Invalidate() override;

    HWND Handle() const { return m_window; }

private:
    HINSTANCE m_instance;
    CKrBrowserHost& m_browser;
    // Lives until the port goes, after the message loop: the splash is drawn from it once.
    SplashImage m_splash;
    HWND m_window = nullptr;
    HCURSOR m_hand = nullptr;
    HCURSOR m_arrow = nullptr;
    ITaskbarList3* m_taskbar = nullptr;
};
