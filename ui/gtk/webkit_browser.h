#pragma once
// The launcher's browser port on WebKitGTK: navigation policy decisions feed OnBeforeNavigate (a
// navigation the launcher replaces is cancelled), load events feed OnNavigateComplete and
// OnDocumentComplete (the top frame only) and OnNavigateError; form fields are read from a copy the
// page keeps sending, and set or focused by a script in the page.
#include "launcher/ports.h"

#include <map>
#include <string>

class CKrGtkWindow;
typedef struct _WebKitWebView WebKitWebView;
typedef struct _WebKitPolicyDecision WebKitPolicyDecision;

class CKrWebKitBrowser : public IKrBrowserPort
{
public:
    explicit CKrWebKitBrowser(CKrGtkWindow& window);
    ~CKrWebKitBrowser() override;
    CKrWebKitBrowser(const CKrWebKitBrowser&) = delete;
    CKrWebKitBrowser& operator=(const CKrWebKitBrowser&) = delete;

    bool Create(CKrWebBrowser& events) override;
    void Navigate(const std::string& url) override;
    void Stop() override;
    void Resize() override;
    bool GetInputValue(const std::string& name, std::u16string& value) override;
    bool SetInputValue(const std::string& name, const std::u16string& value) override;
    bool FocusElement(const std::string& name) override;

    // What Navigate loads: a local path (the product's form, "\\" allowed) becomes a file: URI.
    static std::string ToUri(const std::string& url);
    // What the launcher is told: a file: URI as its local path, anything else as it is.
    static std::string FromUri(const std::string& uri);
    // The page's report of its input fields (JSON: [[id or name, value], ...], ids first) into
    // `fields`; the first entry of a name wins. False when it is no such list.
    static bool ParseFields(const std::string& json, std::map<std::string, std::u16string>& fields);
    // A JavaScript string literal of `text`.
    static std::string ScriptString(const std::u16string& text);

    // Signal handlers.
    bool OnDecidePolicy(WebKitPolicyDecision* decision, int type);
    void OnLoadChanged(int event);
    void OnLoadFailed(const char* uri, int domainIsNetwork, int code);
    void OnFieldsMessage(const std::string& json);
    void OnIdleNavigate();

private:
    void Load(const std::string& url);
    void RunScript(const std::string& script);

    CKrGtkWindow& m_window;
    CKrWebBrowser* m_events = nullptr;
    WebKitWebView* m_view = nullptr;
    // Set while the launcher handles a navigation decision: what it asks for then happens after
    // the decision is given.
    bool m_deciding = false;
    bool m_replaced = false;
    bool m_pendingLoad = false;
    std::string m_pendingUrl;
    std::string m_lastUrl;
    std::map<std::string, std::u16string> m_fields;
};
