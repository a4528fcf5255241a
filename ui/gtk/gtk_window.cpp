#include "ui/gtk/gtk_window.h"

#include "launcher/launcher.h"
#include "services/text_convert.h"
#include "ui/gtk/cairo_renderer.h"

#include <gtk/gtk.h>

#include <algorithm>

namespace
{

constexpr uint32_t kUtf8 = 65001;
constexpr const char* kTitle = "Quorvale Online";

struct TimerTag
{
    CKrGtkWindow* window;
    uint32_t id;
};

// Win32 timers repeat until killed. Killing the timer inside its own callback is safe: GLib keeps the
// tag until the callback has returned.
gboolean TimerFired(gpointer data)
{
    auto* tag = static_cast<TimerTag*>(data);
    tag->window->OnTimerSource(tag->id);
    return G_SOURCE_CONTINUE;
}

void DeleteTag(gpointer data)
{
    delete static_cast<TimerTag*>(data);
}

// The picture as the file holds it: its colours are already premultiplied, as the layered window's
// blend on Windows takes them, so they go to cairo unchanged (clamped to what premultiplied allows).
cairo_surface_t* LoadSplashPicture(const char* file)
{
    GError* error = nullptr;
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(file, &error);
    if (!pixbuf)
    {
        g_clear_error(&error);
        return nullptr;
    }
    const int width = gdk_pixbuf_get_width(pixbuf);
    const int height = gdk_pixbuf_get_height(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const bool alpha = gdk_pixbuf_get_has_alpha(pixbuf) && channels == 4;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS || channels < 3 ||
        gdk_pixbuf_get_bits_per_sample(pixbuf) != 8)
    {
        cairo_surface_destroy(surface);
        g_object_unref(pixbuf);
        return nullptr;
    }
    cairo_surface_flush(surface);
    const guchar* source = gdk_pixbuf_read_pixels(pixbuf);
    const int sourceStride = gdk_pixbuf_get_rowstride(pixbuf);
    unsigned char* target = cairo_image_surface_get_data(surface);
    const int targetStride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < height; ++y)
    {
        const guchar* in = source + static_cast<size_t>(y) * sourceStride;
        auto* out = reinterpret_cast<uint32_t*>(target + static_cast<size_t>(y) * targetStride);
        for (int x = 0; x < width; ++x, in += channels)
        {
            const uint32_t a = alpha ? in[3] : 255;
            const uint32_t r = std::min<uint32_t>(in[0], a);
            const uint32_t g = std::min<uint32_t>(in[1], a);
            const uint32_t b = std::min<uint32_t>(in[2], a);
            out[x] = (a << 24) | (r << 16) | (g << 8) | b;
        }
    }
    cairo_surface_mark_dirty(surface);
    g_object_unref(pixbuf);
    return surface;
}

gboolean DrawSplash(GtkWidget*, cairo_t* cr, gpointer data)
{
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    if (auto* picture = static_cast<cairo_surface_t*>(data))
        cairo_set_source_surface(cr, picture, 0, 0);
    else
        cairo_set_source_rgba(cr, 0, 0, 0, 0);
    cairo_paint(cr);
    return TRUE;
}

gboolean DrawBar(GtkWidget*, cairo_t* cr, gpointer data)
{
    static_cast<CKrGtkWindow*>(data)->OnDraw(cr);
    return TRUE;
}

gboolean Motion(GtkWidget*, GdkEventMotion* event, gpointer data)
{
    static_cast<CKrGtkWindow*>(data)->OnMotion(event->x, event->y);
    return TRUE;
}

gboolean Button(GtkWidget*, GdkEventButton* event, gpointer data)
{
    // Double clicks arrive as a press, a release and an extra 2BUTTON_PRESS: only the plain pair.
    if (event->type == GDK_BUTTON_PRESS || event->type == GDK_BUTTON_RELEASE)
        static_cast<CKrGtkWindow*>(data)->OnButton(event->type == GDK_BUTTON_PRESS, event->button, event->x,
                                                   event->y);
    return TRUE;
}

gboolean Delete(GtkWidget*, GdkEvent*, gpointer data)
{
    static_cast<CKrGtkWindow*>(data)->OnDelete();
    // The launcher quits; the window goes with the port.
    return TRUE;
}

void SetNamedCursor(GtkWidget* widget, const char* name)
{
    GdkWindow* window = widget ? gtk_widget_get_window(widget) : nullptr;
    if (!window)
        return;
    GdkCursor* cursor = gdk_cursor_new_from_name(gdk_window_get_display(window), name);
    gdk_window_set_cursor(window, cursor);
    if (cursor)
        g_object_unref(cursor);
}

} // namespace

CKrGtkWindow::CKrGtkWindow() : m_loop(g_main_loop_new(nullptr, FALSE)) {}

CKrGtkWindow::~CKrGtkWindow()
{
    for (const auto& timer : m_timers)
        g_source_remove(timer.second);
    if (m_splash)
        gtk_widget_destroy(m_splash);
    if (m_main)
        gtk_widget_destroy(m_main);
    if (m_splashPicture)
        cairo_surface_destroy(m_splashPicture);
    g_main_loop_unref(m_loop);
}

bool CKrGtkWindow::CreateSplashWindow(CKrLauncher& launcher)
{
    GdkScreen* screen = gdk_screen_get_default();
    if (!screen)
        return false;
    m_launcher = &launcher;
    // Relative on purpose, as on Windows: the picture comes from the current directory. A missing
    // one leaves a 0 x 0 splash and start-up goes on.
    m_splashPicture = LoadSplashPicture("Splash.bmp");
    const int width = m_splashPicture ? cairo_image_surface_get_width(m_splashPicture) : 0;
    const int height = m_splashPicture ? cairo_image_surface_get_height(m_splashPicture) : 0;
    int32_t screenWidth = 0;
    int32_t screenHeight = 0;
    ScreenSize(screenWidth, screenHeight);

    m_splash = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(m_splash), kTitle);
    gtk_window_set_decorated(GTK_WINDOW(m_splash), FALSE);
    gtk_window_set_resizable(GTK_WINDOW(m_splash), FALSE);
    // Per-pixel alpha needs the RGBA visual; without one the picture shows on black.
    if (GdkVisual* visual = gdk_screen_get_rgba_visual(screen))
        gtk_widget_set_visual(m_splash, visual);
    gtk_widget_set_app_paintable(m_splash, TRUE);
    // GTK windows cannot be 0 x 0; such a splash is a 1 x 1 transparent pixel.
    gtk_widget_set_size_request(m_splash, std::max(width, 1), std::max(height, 1));
    g_signal_connect(m_splash, "draw", G_CALLBACK(DrawSplash), m_splashPicture);
    g_signal_connect(m_splash, "delete-event", G_CALLBACK(Delete), this);
    gtk_window_move(GTK_WINDOW(m_splash), screenWidth / 2 - width / 2, screenHeight / 2 - height / 2);

    m_main = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(m_main), kTitle);
    gtk_window_set_resizable(GTK_WINDOW(m_main), FALSE);
    g_signal_connect(m_main, "delete-event", G_CALLBACK(Delete), this);
    m_container = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(m_main), m_container);
    m_bar = gtk_drawing_area_new();
    gtk_widget_add_events(m_bar, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK);
    g_signal_connect(m_bar, "draw", G_CALLBACK(DrawBar), this);
    g_signal_connect(m_bar, "motion-notify-event", G_CALLBACK(Motion), this);
    g_signal_connect(m_bar, "button-press-event", G_CALLBACK(Button), this);
    g_signal_connect(m_bar, "button-release-event", G_CALLBACK(Button), this);
    gtk_fixed_put(GTK_FIXED(m_container), m_bar, 0, 0);
    m_clientWidth = width;
    m_clientHeight = height;

    gtk_widget_show_all(m_splash);
    return true;
}

uint32_t CKrGtkWindow::RunMessageLoop()
{
    // A quit posted during start-up ends the loop at once, as WM_QUIT waiting in the queue does.
    if (!m_quit)
        g_main_loop_run(m_loop);
    return 0;
}

void CKrGtkWindow::OnTimerSource(uint32_t id)
{
    if (m_launcher)
        m_launcher->OnTimer(id);
}

void CKrGtkWindow::SetTimer(uint32_t id, uint32_t periodMs)
{
    KillTimer(id);
    auto* tag = new TimerTag{this, id};
    m_timers[id] = g_timeout_add_full(G_PRIORITY_DEFAULT, periodMs, TimerFired, tag, DeleteTag);
}

void CKrGtkWindow::KillTimer(uint32_t id)
{
    auto timer = m_timers.find(id);
    if (timer == m_timers.end())
        return;
    g_source_remove(timer->second);
    m_timers.erase(timer);
}

void CKrGtkWindow::ScreenSize(int32_t& width, int32_t& height)
{
    width = 0;
    height = 0;
    GdkDisplay* display = gdk_display_get_default();
    if (!display)
        return;
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (!monitor)
        monitor = gdk_display_get_monitor(display, 0);
    if (!monitor)
        return;
    GdkRectangle area;
    gdk_monitor_get_geometry(monitor, &area);
    width = area.width;
    height = area.height;
}

KrFrameMetrics CKrGtkWindow::FrameMetrics()
{
    // The window manager draws the frame outside the client area: sizes given to Move are client
    // sizes here.
    return KrFrameMetrics();
}

KrRect CKrGtkWindow::ClientRect()
{
    return {0, 0, m_clientWidth, m_clientHeight};
}

void CKrGtkWindow::SetStyle(uint32_t style)
{
    if (style == kKrStyleMainWindow)
        m_mainMode = true;
}

void CKrGtkWindow::SetExStyle(uint32_t exStyle)
{
    // WS_EX_TOPMOST.
    if (m_mainMode && m_main)
        gtk_window_set_keep_above(GTK_WINDOW(m_main), (exStyle & 0x00000008u) != 0);
}

void CKrGtkWindow::ApplyClientSize(int32_t width, int32_t height)
{
    m_clientWidth = std::max(width, 1);
    m_clientHeight = std::max(height, 1);
    gtk_widget_set_size_request(m_bar, m_clientWidth, m_clientHeight);
}

void CKrGtkWindow::Move(int32_t x, int32_t y, int32_t width, int32_t height)
{
    GtkWidget* window = m_mainMode ? m_main : m_splash;
    if (!window)
        return;
    if (m_mainMode)
        ApplyClientSize(width, height);
    else
        gtk_widget_set_size_request(window, std::max(width, 1), std::max(height, 1));
    gtk_window_move(GTK_WINDOW(window), x, y);
}

void CKrGtkWindow::Show(bool visible)
{
    if (!m_mainMode)
    {
        if (m_splash)
            gtk_widget_set_visible(m_splash, visible);
        return;
    }
    if (m_splash)
    {
        gtk_widget_destroy(m_splash);
        m_splash = nullptr;
    }
    if (!visible)
    {
        gtk_widget_hide(m_main);
        return;
    }
    gtk_widget_show_all(m_main);
    gtk_window_present(GTK_WINDOW(m_main));
    if (m_focus)
        gtk_widget_grab_focus(m_focus);
}

void CKrGtkWindow::SetCursor(KrCursor cursor)
{
    SetNamedCursor(m_bar, cursor == KrCursor::Hand ? "pointer" : "default");
}

void CKrGtkWindow::ShowWideMessage(const std::u16string& text, const std::u16string& caption)
{
    ShowMessage(ToNarrow(text, kUtf8), ToNarrow(caption, kUtf8));
}

bool CKrGtkWindow::CreateTaskbarProgress()
{
    // GTK 3 has no taskbar progress of its own.
    return false;
}

void CKrGtkWindow::SetTaskbarNoProgress() {}

void CKrGtkWindow::SetTaskbarProgress(uint64_t, uint64_t) {}

void CKrGtkWindow::ShowMessage(const std::string& text, const std::string& caption)
{
    GtkWindow* owner = nullptr;
    if (m_main && gtk_widget_get_visible(m_main))
        owner = GTK_WINDOW(m_main);
    else if (m_splash && gtk_widget_get_visible(m_splash))
        owner = GTK_WINDOW(m_splash);
    // Texts are 8-bit in the launcher; GTK wants UTF-8.
    const std::string body = g_utf8_validate(text.c_str(), -1, nullptr) ? text : ToNarrow(ToWide(text), kUtf8);
    const std::string title =
        g_utf8_validate(caption.c_str(), -1, nullptr) ? caption : ToNarrow(ToWide(caption), kUtf8);
    GtkWidget* dialog = gtk_message_dialog_new(owner, GTK_DIALOG_MODAL, GTK_MESSAGE_INFO, GTK_BUTTONS_OK, "%s",
                                               body.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), title.c_str());
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
}

std::string CKrGtkWindow::SystemErrorText(uint32_t code)
{
    // The one system text the launcher shows.
    if (code == kKrErrorHostDown)
        return "The remote system is not available.";
    return std::string();
}

void CKrGtkWindow::PostQuit()
{
    m_quit = true;
    g_main_loop_quit(m_loop);
}

void CKrGtkWindow::Invalidate()
{
    if (m_bar)
        gtk_widget_queue_draw(m_bar);
}

void CKrGtkWindow::OnDraw(void* cr)
{
    if (!m_launcher || !m_mainMode)
        return;
    KrDisplayList list = m_launcher->Paint();
    DrawDisplayList(static_cast<cairo_t*>(cr), list);
    SetCursor(list.cursor);
}

void CKrGtkWindow::OnMotion(double x, double y)
{
    if (!m_launcher)
        return;
    // The class cursor first, as WM_SETCURSOR sets it before every mouse move.
    SetCursor(KrCursor::Arrow);
    m_launcher->OnMouseMove(static_cast<int32_t>(x), static_cast<int32_t>(y));
}

void CKrGtkWindow::OnButton(bool press, unsigned button, double x, double y)
{
    if (!m_launcher || button != 1)
        return;
    if (press)
        m_launcher->OnLButtonDown(static_cast<int32_t>(x), static_cast<int32_t>(y));
    else
        m_launcher->OnLButtonUp(static_cast<int32_t>(x), static_cast<int32_t>(y));
}

void CKrGtkWindow::OnDelete()
{
    if (m_launcher)
        m_launcher->OnDestroy();
}
