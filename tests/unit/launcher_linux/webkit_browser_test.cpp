// The browser port's translations between the launcher's URLs and WebKit's, and its copy of the
// page's form fields.
#include "ui/gtk/webkit_browser.h"

#include "ui/gtk/gtk_window.h"

#include <gtest/gtest.h>

namespace
{

TEST(WebKitBrowserTest, LocalPathsBecomeFileUrisAndComeBackAsPaths)
{
    // The local error page as the launcher composes it.
    const std::string page = "/home/p q/QuorvaleOnline/ErrorPage\\general-error_no-twitter.html";
    const std::string uri = CKrWebKitBrowser::ToUri(page);
    EXPECT_EQ(uri, "file:///home/p%20q/QuorvaleOnline/ErrorPage/general-error_no-twitter.html");
    EXPECT_EQ(CKrWebKitBrowser::FromUri(uri), "/home/p q/QuorvaleOnline/ErrorPage/general-error_no-twitter.html")
        << "the white list finds the project path in it";
    for (const char* unchanged : {"http://web.test/en/?sid=1", "https://a.test/x%20y", "about:blank", "relative"})
    {
        EXPECT_EQ(CKrWebKitBrowser::ToUri(unchanged), unchanged);
        EXPECT_EQ(CKrWebKitBrowser::FromUri(unchanged), unchanged);
    }
    EXPECT_EQ(CKrWebKitBrowser::FromUri("file://remote-host/x"), "file://remote-host/x") << "no local path";
}

TEST(WebKitBrowserTest, FieldReportsKeepTheFirstElementOfANameAndRefuseOtherShapes)
{
    std::map<std::string, std::u16string> fields;
    ASSERT_TRUE(CKrWebKitBrowser::ParseFields(
        R"([["username","J\u00f6rg"],["password",""],["username","second"],["e","\ud83d\ude00"]])", fields));
    EXPECT_EQ(fields, (std::map<std::string, std::u16string>{
                          {"username", u"J\u00f6rg"}, {"password", u""}, {"e", u"\U0001F600"}}));

    for (const char* refused : {"", "{}", "[1]", R"([["a"]])", R"([["a",1]])", R"([["a","b","c"]])", "[[\"a\",\"b\"]",
                                R"("text")"})
    {
        EXPECT_FALSE(CKrWebKitBrowser::ParseFields(refused, fields)) << refused;
        EXPECT_EQ(fields.size(), 3u) << "the last good copy stays: " << refused;
    }
    ASSERT_TRUE(CKrWebKitBrowser::ParseFields("[]", fields));
    EXPECT_TRUE(fields.empty());
}

TEST(WebKitBrowserTest, ElementOperationsAnswerFromThePagesLastReport)
{
    // No page engine needed: the operations answer from the copy; the scripts need a view.
    CKrGtkWindow window;
    CKrWebKitBrowser browser(window);
    std::u16string value = u"kept";
    EXPECT_FALSE(browser.GetInputValue("username", value)) << "no page yet";
    EXPECT_FALSE(browser.SetInputValue("username", u"x"));
    EXPECT_FALSE(browser.FocusElement("password"));

    browser.OnFieldsMessage(R"([["username",""],["password",""],["nick","Bo"]])");
    EXPECT_FALSE(browser.GetInputValue("username", value)) << "an empty field reads as none";
    EXPECT_EQ(value, u"kept");
    EXPECT_TRUE(browser.GetInputValue("nick", value));
    EXPECT_EQ(value, u"Bo");
    EXPECT_TRUE(browser.SetInputValue("username", u"alice"));
    EXPECT_TRUE(browser.GetInputValue("username", value));
    EXPECT_EQ(value, u"alice");
    EXPECT_TRUE(browser.FocusElement("password"));
    EXPECT_FALSE(browser.FocusElement("Password")) << "names are exact";

    browser.OnFieldsMessage("not json");
    EXPECT_TRUE(browser.GetInputValue("nick", value)) << "a report that cannot be read keeps the copy";
    browser.OnFieldsMessage("[]");
    EXPECT_FALSE(browser.GetInputValue("nick", value));
}

TEST(WebKitBrowserTest, ScriptStringsCannotLeaveTheirLiteral)
{
    EXPECT_EQ(CKrWebKitBrowser::ScriptString(u"alice_01@x.y"), "\"alice_01@x.y\"");
    EXPECT_EQ(CKrWebKitBrowser::ScriptString(u"\"); evil(); (\"\\\n</script>"),
              "\"\\u0022\\u0029\\u003b evil\\u0028\\u0029\\u003b \\u0028\\u0022\\u005c\\u000a\\u003c\\u002fscript\\u003e\"");
    EXPECT_EQ(CKrWebKitBrowser::ScriptString(u"\u00e9\u2028\U0001F600"), "\"\\u00e9\\u2028\\ud83d\\ude00\"");
}

} // namespace
