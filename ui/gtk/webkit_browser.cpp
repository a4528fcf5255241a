#include "ui/gtk/webkit_browser.h"

#include "launcher/web_browser.h"
#include "platform/files.h"
#include "services/text_convert.h"
#include "ui/gtk/gtk_window.h"

#include <rapidjson/document.h>

#include <webkit2/webkit2.h>

#include <algorithm>
#include <cstdio>

namespace
{

constexpr uint32_t kUtf8 = 65001;
constexpr int kBottomStrip = 48;
constexpr const char* kFieldsHandler = "krfields";

// Every input field of the top document, by id first and then by name (an id wins over another
// field's name, as in the document's item lookup), sent whenever one changes. Password values never
// leave the page: the launcher only needs to know the field exists.
constexpr const char* kFieldsScript = R"JS(
(function () {
    if (window.__krFields) return;
    window.__krFields = true;
    function report() {
        var out = [], all = document.querySelectorAll('input');
        function value(e) { return e.type === 'password' ? '' : String(e.value); }
        for (var i = 0; i < all.length; i++)
            if (all[i].id) out.push([all[i].id, value(all[i])]);
        for (var j = 0; j < all.length; j++)
            if (all[j].name) out.push([all[j].name, value(all[j])]);
        try { window.webkit.messageHandlers.krfields.postMessage(JSON.stringify(out)); } catch (x) {}
    }
    window.__krReport = report;
    document.addEventListener('input', report, true);
    document.addEventListener('change', report, true);
    report();
})();
)JS";

// The input field the report lists first under `n`.
constexpr const char* kFindField = "function (n) { var all = document.querySelectorAll('input');"
                                   " for (var i = 0; i < all.length; i++) if (all[i].id === n) return all[i];"
                                   " for (var j = 0; j < all.length; j++) if (all[j].name === n) return all[j];"
                                   " return null; }";
// A page's "autofocus" field may take the focus after the launcher gave it away (WebKit focuses it
// at a later rendering update, which under load can come after the document is complete); until the
// player presses a key or a button, such a move is undone.
constexpr const char* kKeepFocus = "function (e) { var until = Date.now() + 5000;"
                                   " function done() { until = 0; }"
                                   " document.addEventListener('keydown', done, true);"
                                   " document.addEventListener('mousedown', done, true);"
                                   " document.addEventListener('focusin', function (event) {"
                                   " if (Date.now() < until && event.target !== e && event.target.autofocus) e.focus();"
                                   " }, true); }";
// What the WebBrowser host does after each document: the page shows no scroll bars of its own.
constexpr const char* kHideScrollBars = "if (document.body) document.body.style.overflow = 'hidden';";

CKrWebKitBrowser* Self(gpointer data)
{
    return static_cast<CKrWebKitBrowser*>(data);
}

gboolean DecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type, gpointer data)
{
    return Self(data)->OnDecidePolicy(decision, static_cast<int>(type)) ? TRUE : FALSE;
}

void LoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data)
{
    Self(data)->OnLoadChanged(static_cast<int>(event));
}

gboolean LoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer data)
{
    const bool network = error && error->domain == WEBKIT_NETWORK_ERROR;
    Self(data)->OnLoadFailed(uri, network ? 1 : 0, error ? error->code : 0);
    // WebKit's own error page stays out: the launcher decides what shows.
    return TRUE;
}

void FieldsMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer data)
{
    JSCValue* value = webkit_javascript_result_get_js_value(result);
    if (!value || !jsc_value_is_string(value))
        return;
    gchar* text = jsc_value_to_string(value);
    if (text)
        Self(data)->OnFieldsMessage(text);
    g_free(text);
}

gboolean NoContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*, gpointer)
{
    return TRUE;
}

gboolean IdleNavigate(gpointer data)
{
    Self(data)->OnIdleNavigate();
    return G_SOURCE_REMOVE;
}

bool HasScheme(const std::string& url)
{
    // "C:\..." is a drive, not a scheme.
    const size_t colon = url.find(':');
    if (colon == std::string::npos || colon < 2)
        return false;
    for (size_t i = 0; i < colon; ++i)
    {
        const char c = url[i];
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.'))
            return false;
    }
    return true;
}

} // namespace

CKrWebKitBrowser::CKrWebKitBrowser(CKrGtkWindow& window) : m_window(window) {}

CKrWebKitBrowser::~CKrWebKitBrowser()
{
    g_idle_remove_by_data(this);
    if (m_view)
    {
        g_signal_handlers_disconnect_by_data(m_view, this);
        g_signal_handlers_disconnect_by_data(webkit_web_view_get_user_content_manager(m_view), this);
    }
}

bool CKrWebKitBrowser::Create(CKrWebBrowser& events)
{
    if (m_view)
        return true;
    GtkWidget* container = m_window.Container();
    if (!container)
        return false;
    m_events = &events;

    WebKitUserContentManager* content = webkit_user_content_manager_new();
    g_signal_connect(content, "script-message-received::krfields", G_CALLBACK(FieldsMessage), this);
    webkit_user_content_manager_register_script_message_handler(content, kFieldsHandler);
    WebKitUserScript* script = webkit_user_script_new(kFieldsScript, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                      WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_END, nullptr, nullptr);
    webkit_user_content_manager_add_script(content, script);
    webkit_user_script_unref(script);

    m_view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(content));
    g_object_unref(content);
    WebKitSettings* settings = webkit_web_view_get_settings(m_view);
    // A virtual display has no GPU; software drawing is what works everywhere.
    webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    webkit_settings_set_enable_developer_extras(settings, FALSE);
    webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
    g_signal_connect(m_view, "decide-policy", G_CALLBACK(DecidePolicy), this);
    g_signal_connect(m_view, "load-changed", G_CALLBACK(LoadChanged), this);
    g_signal_connect(m_view, "load-failed", G_CALLBACK(LoadFailed), this);
    g_signal_connect(m_view, "context-menu", G_CALLBACK(NoContextMenu), this);
    gtk_fixed_put(GTK_FIXED(container), GTK_WIDGET(m_view), 0, 0);
    m_window.SetFocusWidget(GTK_WIDGET(m_view));
    return true;
}

std::string CKrWebKitBrowser::ToUri(const std::string& url)
{
    if (HasScheme(url))
        return url;
    const std::string path = kr::os::NativePath(url);
    if (path.empty() || path[0] != '/')
        return url;
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    std::string result = uri ? uri : url;
    g_free(uri);
    return result;
}

std::string CKrWebKitBrowser::FromUri(const std::string& uri)
{
    if (uri.compare(0, 5, "file:") != 0)
        return uri;
    gchar* host = nullptr;
    gchar* path = g_filename_from_uri(uri.c_str(), &host, nullptr);
    // A file on another machine is no path of this one.
    const bool local = path && (!host || std::string(host) == "localhost");
    std::string result = local ? path : uri;
    g_free(host);
    g_free(path);
    return result;
}

void CKrWebKitBrowser::Load(const std::string& url)
{
    // Win32's Navigate with no URL shows nothing new either.
    if (url.empty() || !m_view)
        return;
    m_fields.clear();
    webkit_web_view_load_uri(m_view, ToUri(url).c_str());
}

void CKrWebKitBrowser::Navigate(const std::string& url)
{
    if (m_deciding)
    {
        m_replaced = true;
        m_pendingLoad = true;
        m_pendingUrl = url;
        return;
    }
    Load(url);
}

void CKrWebKitBrowser::Stop()
{
    if (m_deciding)
    {
        // The decision is refused instead; an earlier Navigate in the same decision is dropped.
        m_replaced = true;
        m_pendingLoad = false;
        return;
    }
    if (m_view)
        webkit_web_view_stop_loading(m_view);
}

void CKrWebKitBrowser::OnIdleNavigate()
{
    if (!m_pendingLoad)
        return;
    m_pendingLoad = false;
    Load(m_pendingUrl);
}

void CKrWebKitBrowser::Resize()
{
    if (!m_view)
        return;
    const KrRect client = m_window.ClientRect();
    gtk_widget_set_size_request(GTK_WIDGET(m_view), std::max(client.Width(), 1),
                                std::max(client.Height() - kBottomStrip, 1));
}

bool CKrWebKitBrowser::OnDecidePolicy(WebKitPolicyDecision* decision, int type)
{
    if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION)
        return false;
    WebKitNavigationAction* action =
        webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    WebKitURIRequest* request = action ? webkit_navigation_action_get_request(action) : nullptr;
    const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    // A server's redirect is part of the navigation already decided, as with the WebBrowser control.
    if (!uri || !m_events || webkit_navigation_action_is_redirect(action))
        return false;
    const bool newWindow = type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION;
    const std::string url = uri;

    m_deciding = true;
    m_replaced = false;
    m_lastUrl = FromUri(url);
    m_events->OnBeforeNavigate(m_lastUrl);
    m_deciding = false;
    if (m_replaced || newWindow)
    {
        webkit_policy_decision_ignore(decision);
        // There is one view: a page that asks for a new window gets its page here.
        if (!m_replaced)
        {
            m_pendingLoad = true;
            m_pendingUrl = url;
        }
        if (m_pendingLoad)
            g_idle_add(IdleNavigate, this);
        return true;
    }
    webkit_policy_decision_use(decision);
    return true;
}

void CKrWebKitBrowser::OnLoadChanged(int event)
{
    if (!m_events || !m_view)
        return;
    const char* uri = webkit_web_view_get_uri(m_view);
    const std::string url = FromUri(uri ? uri : "");
    if (event == WEBKIT_LOAD_COMMITTED)
    {
        // The fields of the page that goes.
        m_fields.clear();
        m_events->OnNavigateComplete(url);
    }
    else if (event == WEBKIT_LOAD_FINISHED)
    {
        m_events->OnDocumentComplete(url);
        RunScript(kHideScrollBars);
    }
}

void CKrWebKitBrowser::OnLoadFailed(const char* uri, int domainIsNetwork, int code)
{
    // A navigation that was cancelled or replaced is no error, as with the WebBrowser control.
    if (domainIsNetwork && code == WEBKIT_NETWORK_ERROR_CANCELLED)
        return;
    if (!domainIsNetwork && code == WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE)
        return;
    (void)uri;
    // As the WebBrowser host does: the URL of the last navigation decided, not the failing one.
    if (m_events)
        m_events->OnNavigateError(m_lastUrl);
}

bool CKrWebKitBrowser::ParseFields(const std::string& json, std::map<std::string, std::u16string>& fields)
{
    rapidjson::Document document;
    document.Parse(json.c_str(), json.size());
    if (document.HasParseError() || !document.IsArray())
        return false;
    std::map<std::string, std::u16string> parsed;
    for (const auto& entry : document.GetArray())
    {
        if (!entry.IsArray() || entry.Size() != 2 || !entry[0].IsString() || !entry[1].IsString())
            return false;
        const std::string name(entry[0].GetString(), entry[0].GetStringLength());
        const std::string value(entry[1].GetString(), entry[1].GetStringLength());
        // emplace keeps the first.
        parsed.emplace(name, ToWide(value, kUtf8));
    }
    fields.swap(parsed);
    return true;
}

void CKrWebKitBrowser::OnFieldsMessage(const std::string& json)
{
    // A message that cannot be read leaves the last good copy.
    ParseFields(json, m_fields);
}

std::string CKrWebKitBrowser::ScriptString(const std::u16string& text)
{
    std::string literal = "\"";
    for (char16_t c : text)
    {
        if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u' ' ||
            c == u'_' || c == u'-' || c == u'.' || c == u'@')
        {
            literal += static_cast<char>(c);
            continue;
        }
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
        literal += escape;
    }
    return literal + "\"";
}

void CKrWebKitBrowser::RunScript(const std::string& script)
{
    if (m_view)
        webkit_web_view_evaluate_javascript(m_view, script.c_str(), -1, nullptr, nullptr, nullptr, nullptr, nullptr);
}

bool CKrWebKitBrowser::GetInputValue(const std::string& name, std::u16string& value)
{
    auto field = m_fields.find(name);
    // An empty field reads as none, and the value is left as it was.
    if (field == m_fields.end() || field->second.empty())
        return false;
    value = field->second;
    return true;
}

bool CKrWebKitBrowser::SetInputValue(const std::string& name, const std::u16string& value)
{
    auto field = m_fields.find(name);
    if (field == m_fields.end())
        return false;
    field->second = value;
    RunScript("(function (find) { var e = find(" + ScriptString(ToWide(name, kUtf8)) + "); if (e) e.value = " +
              ScriptString(value) + "; if (window.__krReport) window.__krReport(); })(" + kFindField + ");");
    return true;
}

bool CKrWebKitBrowser::FocusElement(const std::string& name)
{
    if (m_fields.find(name) == m_fields.end())
        return false;
    RunScript("(function (find, guard) { var e = find(" + ScriptString(ToWide(name, kUtf8)) +
              "); if (e) { e.focus(); guard(e); } })(" + kFindField + ", " + kKeepFocus + ");");
    return true;
}
