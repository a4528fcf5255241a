// The WebBrowser host: its event sink's dispatch table, and the host without a page engine (Wine has
// none here), embedded or refused.
#include "launcher/ports.h"
#include "launcher/web_browser.h"
#include "tests/support/temp_dir.h"
#include "ui/browser_events.h"
#include "ui/browser_host.h"
#include "ui/browser_url.h"

#include <windows.h>

#include <ole2.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class RecordingBrowser : public CKrWebBrowser
{
public:
    RecordingBrowser() : CKrWebBrowser(m_port) {}
    void OnBeforeNavigate(const std::string& url) override { events.push_back("before " + url); }
    void OnNavigateError(const std::string& url) override { events.push_back("error " + url); }
    void OnNavigateComplete(const std::string& url) override { events.push_back("complete " + url); }
    void OnDocumentComplete(const std::string& url) override { events.push_back("document " + url); }
    std::vector<std::string> events;

private:
    CKrBrowserHost m_port; // never created: the sink under test calls the callbacks directly
};

// A frame of the page: answers IUnknown and IDispatch only, so hiding the scroll bars finds nothing.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class FakeFrame : public IDispatch
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        *object = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ? this : nullptr;
        return *object ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override
    {
        return E_NOTIMPL;
    }
};
#pragma GCC diagnostic pop

// The arguments of one event as the control passes them: in reverse order, the URL by reference.
class EventArgs
{
public:
    EventArgs(IDispatch* frame, const std::wstring& url, UINT count) : m_args(count)
    {
        m_url = SysAllocStringLen(url.data(), static_cast<UINT>(url.size()));
        VariantInit(&m_urlValue);
        V_VT(&m_urlValue) = VT_BSTR;
        V_BSTR(&m_urlValue) = m_url;
        for (VARIANT& v : m_args)
            VariantInit(&v);
        V_VT(&m_args[count - 1]) = VT_DISPATCH;
        V_DISPATCH(&m_args[count - 1]) = frame;
        V_VT(&m_args[count - 2]) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&m_args[count - 2]) = &m_urlValue;
        if (count == 7)
        {
            V_VT(&m_args[0]) = VT_BYREF | VT_BOOL;
            V_BOOLREF(&m_args[0]) = &cancel;
        }
        m_params.rgvarg = m_args.data();
        m_params.cArgs = count;
    }
    ~EventArgs() { SysFreeString(m_url); }
    EventArgs(const EventArgs&) = delete;
    EventArgs& operator=(const EventArgs&) = delete;
    DISPPARAMS* params() { return &m_params; }
    VARIANT_BOOL cancel = VARIANT_FALSE;

private:
    BSTR m_url;
    VARIANT m_urlValue;
    std::vector<VARIANT> m_args;
    DISPPARAMS m_params{};
};

HRESULT Fire(CKrBrowserEvents& sink, DISPID id, DISPPARAMS* params, VARIANT* result = nullptr)
{
    return sink.Invoke(id, IID_NULL, 0, DISPATCH_METHOD, params, result, nullptr, nullptr);
}

} // namespace

TEST(BrowserEvents, DispatchTableReachesTheLauncher)
{
    RecordingBrowser launcher;
    CKrBrowserEvents sink;
    sink.SetTarget(&launcher);
    FakeFrame top, inner;

    EventArgs before(&top, L"http://127.0.0.1/a", 7);
    EXPECT_EQ(Fire(sink, kKrBeforeNavigate2, before.params()), S_OK);
    EXPECT_EQ(before.cancel, VARIANT_FALSE);
    EventArgs failed(&top, L"http://elsewhere/", 5);
    Fire(sink, kKrNavigateError, failed.params()); // reports the last BeforeNavigate2's URL
    DISPPARAMS none{};
    Fire(sink, kKrErrorEvent, &none);
    EventArgs innerDone(&inner, L"http://127.0.0.1/frame", 2);
    EventArgs topDone(&top, L"http://127.0.0.1/a", 2);
    Fire(sink, kKrNavigateComplete2, innerDone.params());
    Fire(sink, kKrNavigateComplete2, topDone.params());
    // Only the frame whose NavigateComplete2 came last completes the document.
    Fire(sink, kKrDocumentComplete, innerDone.params());
    Fire(sink, kKrDocumentComplete, topDone.params());
    Fire(sink, 102, before.params()); // StatusTextChange: nothing

    std::vector<std::string> expected = {
        "before http://127.0.0.1/a",       "error http://127.0.0.1/a",    "error ",
        "complete http://127.0.0.1/frame", "complete http://127.0.0.1/a", "document http://127.0.0.1/a"};
    EXPECT_EQ(launcher.events, expected);

    VARIANT result;
    V_VT(&result) = VT_I4;
    V_I4(&result) = 5;
    EXPECT_EQ(Fire(sink, kKrBeforeNavigate2, nullptr, &result), E_INVALIDARG);
    EXPECT_EQ(V_VT(&result), VT_EMPTY);

    // After OnQuit nothing reaches the launcher.
    Fire(sink, kKrOnQuit, &none);
    Fire(sink, kKrBeforeNavigate2, before.params());
    Fire(sink, kKrErrorEvent, &none);
    EXPECT_EQ(launcher.events.size(), expected.size());
}

TEST(BrowserEvents, OverLongUrlsAreCancelledNotCut)
{
    RecordingBrowser launcher;
    CKrBrowserEvents sink;
    sink.SetTarget(&launcher);
    FakeFrame top;
    std::wstring longest = L"http://h/" + std::wstring(kKrUrlBufferUnits - 1 - 9, L'x');
    EventArgs fits(&top, longest, 7);
    Fire(sink, kKrBeforeNavigate2, fits.params());
    ASSERT_EQ(launcher.events.size(), 1u);
    EXPECT_EQ(launcher.events[0].size(), std::string("before ").size() + kKrUrlBufferUnits - 1);
    EXPECT_EQ(fits.cancel, VARIANT_FALSE);

    EventArgs tooLong(&top, longest + L"y", 7);
    Fire(sink, kKrBeforeNavigate2, tooLong.params());
    EXPECT_EQ(tooLong.cancel, VARIANT_TRUE);
    EventArgs tooLongDone(&top, longest + L"y", 2);
    Fire(sink, kKrNavigateComplete2, tooLongDone.params());
    Fire(sink, kKrNavigateError, tooLong.params());
    ASSERT_EQ(launcher.events.size(), 2u);
    EXPECT_EQ(launcher.events[1], "error ");

    std::u16string wide;
    EXPECT_TRUE(WidenUrl(std::string(kKrUrlBufferUnits - 1, 'a'), wide));
    EXPECT_EQ(wide.size(), kKrUrlBufferUnits - 1);
    EXPECT_FALSE(WidenUrl(std::string(kKrUrlBufferUnits, 'a'), wide));
    EXPECT_FALSE(WidenUrl("", wide));
}

namespace {

// A window for the control; message-only, so no display is needed.
struct HostWindow
{
    HostWindow()
        : handle(CreateWindowExA(0, "STATIC", "host", WS_CHILD, 0, 0, 400, 300, HWND_MESSAGE, nullptr,
                                 nullptr, nullptr))
    {
        OleInitialize(nullptr);
    }
    ~HostWindow()
    {
        DestroyWindow(handle);
        OleUninitialize();
    }
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;
    HWND handle;
};

void PumpMessages(CKrBrowserHost& host)
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
    {
        host.TranslateAccelerator(message);
        DispatchMessageA(&message);
    }
}

// Every operation on a host whose page has no document: nothing found, nothing changed.
void ExpectIdleOperations(CKrBrowserHost& host)
{
    host.Navigate("about:blank");
    host.Navigate(std::string(kKrUrlBufferUnits + 10, 'h'));
    host.Navigate("");
    host.Resize();
    host.Stop();
    PumpMessages(host);
    std::u16string value = u"kept";
    EXPECT_FALSE(host.GetInputValue("login", value));
    EXPECT_EQ(value, u"kept");
    EXPECT_FALSE(host.SetInputValue("login", u"player"));
    EXPECT_FALSE(host.FocusElement("login"));
    MSG key{nullptr, WM_KEYDOWN, VK_TAB, 0, 0, {0, 0}};
    host.TranslateAccelerator(key);
}

bool UnderWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// Runs tests of this program in a child process whose WebBrowser control Wine refuses to create:
// DLL overrides are read from the Unix environment, not the Windows one, so the child is a copy of
// this program under its own name with a per-program override. Returns the child's XML report, ""
// when it did not run or failed.
std::string RunWithoutWebBrowser(const std::string& filter, const kr::test::TempDir& dir)
{
    const char* name = "kr_ui_no_webbrowser.exe";
    const std::string appKey = std::string("Software\\Wine\\AppDefaults\\") + name;
    char self[MAX_PATH];
    std::string copy = dir.Path() + name;
    if (!GetModuleFileNameA(nullptr, self, MAX_PATH) || !CopyFileA(self, copy.c_str(), FALSE))
        return {};
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, (appKey + "\\DllOverrides").c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return {};
    RegSetValueExA(key, "ieframe", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1); // "" = disabled
    RegCloseKey(key);

    std::string report = dir.Path() + "child.xml";
    std::string command =
        "\"" + copy + "\" --gtest_filter=" + filter + " \"--gtest_output=xml:" + report + "\"";
    SetEnvironmentVariableA("KR_TEST_CHILD", "1");
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                  &startup, &process);
    SetEnvironmentVariableA("KR_TEST_CHILD", nullptr);
    DWORD exitCode = 1;
    if (started)
    {
        if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
            GetExitCodeProcess(process.hProcess, &exitCode);
        else
            TerminateProcess(process.hProcess, 1);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    RegDeleteTreeA(HKEY_CURRENT_USER, appKey.c_str());
    return exitCode == 0 ? kr::test::ReadWholeFile(report) : std::string();
}

} // namespace

// Without a page engine the control may still embed; its document is then null.
TEST(BrowserHost, ControlWithoutPageEngineIsHarmless)
{
    HostWindow window;
    ASSERT_NE(window.handle, nullptr);
    RecordingBrowser launcher;
    {
        CKrBrowserHost host;
        host.SetWindow(window.handle);
        const bool created = host.Create(launcher);
        // Wine's control embeds without a page engine (only ieframe=d stops it, see the child test).
        EXPECT_TRUE(created);
        EXPECT_EQ(host.HasBrowser(), created);
        if (created)
        {
            // The control's window fills the host less the bottom strip.
            host.Resize();
            PumpMessages(host);
            HWND control = GetWindow(window.handle, GW_CHILD);
            // Without a display Wine cannot give the control a window; with one, check its size.
            if (control)
            {
                RECT rect{};
                GetWindowRect(control, &rect);
                EXPECT_EQ(rect.right - rect.left, 400);
                EXPECT_EQ(rect.bottom - rect.top, 300 - 48);
            }
        }
        ExpectIdleOperations(host);
    }
    EXPECT_EQ(GetWindow(window.handle, GW_CHILD), nullptr) << "the control outlived its host";
}

// Run by the test below in a child process where Wine cannot create the control.
TEST(BrowserHostChild, FailedEmbeddingLeavesEveryOperationIdle)
{
    if (GetEnvironmentVariableA("KR_TEST_CHILD", nullptr, 0) == 0)
        GTEST_SKIP() << "runs in a child process with the WebBrowser control disabled";
    HostWindow window;
    RecordingBrowser launcher;
    CKrBrowserHost host;
    host.SetWindow(window.handle);
    EXPECT_FALSE(host.Create(launcher));
    EXPECT_FALSE(host.HasBrowser());
    ExpectIdleOperations(host);
    EXPECT_TRUE(launcher.events.empty());
}

TEST(BrowserHost, EmbeddingFailsCleanlyWithoutTheControl)
{
    if (!UnderWine())
        GTEST_SKIP() << "disabling the control needs Wine's DLL overrides";
    kr::test::TempDir dir;
    std::string report = RunWithoutWebBrowser("BrowserHostChild.*", dir);
    ASSERT_FALSE(report.empty()) << "the child run failed";
    EXPECT_NE(report.find("name=\"FailedEmbeddingLeavesEveryOperationIdle\""), std::string::npos);
    EXPECT_NE(report.find("result=\"completed\""), std::string::npos);
    EXPECT_EQ(report.find("result=\"skipped\""), std::string::npos);
    EXPECT_EQ(report.find("<failure"), std::string::npos);
}
