#pragma once
// The launcher window on GTK 3: the splash as a borderless window on an RGBA visual, then the main
// window "Quorvale Online" (browser above, bottom bar drawn from the display list), timers on the GLib
// main loop, message boxes and cursors.
#include "launcher/ports.h"

#include <map>

typedef struct _GtkWidget GtkWidget;
typedef struct _GMainLoop GMainLoop;
typedef struct _cairo_surface cairo_surface_t;

class CKrGtkWindow : public IKrWindowPort
{
public:
    CKrGtkWindow();
    ~CKrGtkWindow() override;
    CKrGtkWindow(const CKrGtkWindow&) = delete;
    CKrGtkWindow& operator=(const CKrGtkWindow&) = delete;

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

    // Where the browser goes: a fixed-position container filling the main window.
    GtkWidget* Container() const { return m_container; }
    // The widget that takes the keyboard when the main window shows (the browser).
    void SetFocusWidget(GtkWidget* widget) { m_focus = widget; }

    // Signal handlers.
    void OnTimerSource(uint32_t id);
    void OnDraw(void* cr);
    void OnMotion(double x, double y);
    void OnButton(bool press, unsigned button, double x, double y);
    void OnDelete();

private:
    void ApplyClientSize(int32_t width, int32_t height);

    CKrLauncher* m_launcher = nullptr;
    GMainLoop* m_loop = nullptr;
    bool m_quit = false;
    GtkWidget* m_splash = nullptr;
    cairo_surface_t* m_splashPicture = nullptr;
    GtkWidget* m_main = nullptr;
    GtkWidget* m_container = nullptr;
    GtkWidget* m_bar = nullptr;
    GtkWidget* m_focus = nullptr;
    // After SetStyle with the main window's style, the window operations act on the main window.
    bool m_mainMode = false;
    int32_t m_clientWidth = 0;
    int32_t m_clientHeight = 0;
    std::map<uint32_t, unsigned> m_timers; // launcher timer id -> GLib source id
};
