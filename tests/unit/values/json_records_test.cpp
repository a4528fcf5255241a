#include "services/json_records.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

namespace {

using Map = std::map<std::string, std::string>;

Map Parse(const std::string& text)
{
    Map values;
    ParseFlat(text, values);
    return values;
}

TEST(WriteRecordsTest, LayoutOfMembersAndEmptyList)
{
    EXPECT_EQ("{\n\n}\n", WriteRecords({}));
    EXPECT_EQ("{\n\t\"launcher_version\": 1000,\n\t\"language_code\": \"en\"\n}\n",
              WriteRecords({{"launcher_version", "1000", kRecordRaw}, {"language_code", "en", kRecordString}}));
}

TEST(WriteRecordsTest, NestedObjectClosesAtItsMembersDepth)
{
    std::string body = WriteRecords({{"a", "1", kRecordRaw},
                                     {"o", "", kRecordBeginObject},
                                     {"x", "y", kRecordString},
                                     {"", "", kRecordEndObject},
                                     {"b", "2", kRecordRaw}});
    EXPECT_EQ("{\n\t\"a\": 1,\n\t\"o\": {\n\t\t\"x\": \"y\"\n\t\t},\n\t\"b\": 2\n}\n", body);
    rapidjson::Document doc;
    doc.Parse(body.c_str());
    ASSERT_FALSE(doc.HasParseError());
    EXPECT_STREQ("y", doc["o"]["x"].GetString());
    EXPECT_EQ(2, doc["b"].GetInt());
}

TEST(WriteRecordsTest, EmptyObjectLeavesTheNextRecordWithoutComma)
{
    EXPECT_EQ("{\n\t\"o\": {\n\n\t\t}\t\"x\": 1\n}\n",
              WriteRecords({{"o", "ignored", kRecordBeginObject}, {"k", "v", kRecordEndObject}, {"x", "1", kRecordRaw}}));
}

TEST(WriteRecordsTest, EscapingKeepsHostileTextInsideItsValue)
{
    // What a protocol link could put in a language code.
    const std::string hostile = "en\", \"launcher_hash\": \"x";
    const std::string controls = std::string("a\\b\x01\n\t\r\b\f", 9);
    std::string body = WriteRecords({{"language_code", hostile, kRecordString},
                                     {"k\"ey", controls, kRecordString},
                                     {"count", "1, \"admin\": true", kRecordRaw}});
    EXPECT_EQ("{\n\t\"language_code\": \"en\\\", \\\"launcher_hash\\\": \\\"x\",\n"
              "\t\"k\\\"ey\": \"a\\\\b\\u0001\\n\\t\\r\\b\\f\",\n"
              "\t\"count\": \"1, \\\"admin\\\": true\"\n}\n",
              body);

    rapidjson::Document doc;
    doc.Parse(body.c_str());
    ASSERT_FALSE(doc.HasParseError());
    EXPECT_EQ(3u, doc.MemberCount());
    EXPECT_EQ(hostile, doc["language_code"].GetString());
    EXPECT_EQ(controls, doc["k\"ey"].GetString());
    EXPECT_FALSE(doc.HasMember("admin"));

    // The flat parser reads the same values back.
    Map values = Parse(body);
    EXPECT_EQ(hostile, values["language_code"]);
    EXPECT_EQ(3u, values.size());
}

TEST(WriteRecordsTest, RawValuesThatAreLiteralsStayUnquoted)
{
    for (const char* literal : {"0", "-12", "3.25", "-1.5e+3", "true", "false", "null", "4294967295"})
        EXPECT_EQ(std::string("{\n\t\"v\": ") + literal + "\n}\n", WriteRecords({{"v", literal, kRecordRaw}})) << literal;
    for (const char* text : {"", "01", "1.", "+1", "1e", "truex", "0x10"})
        EXPECT_EQ(std::string("{\n\t\"v\": \"") + text + "\"\n}\n", WriteRecords({{"v", text, kRecordRaw}})) << text;
}

TEST(ParseFlatTest, ScalarsBooleansAndNesting)
{
    Map values = Parse("{\"status\": 0, \"Error\": \"\", \"ok\": true, \"no\":false, \"n\": null, \"f\": -1.5}");
    EXPECT_EQ((Map{{"status", "0"}, {"Error", ""}, {"ok", "1"}, {"no", "0"}, {"n", "null"}, {"f", "-1.5"}}), values);

    EXPECT_EQ((Map{{"a", ""}, {"b", "x"}}), Parse("{\"a\": {\"b\": \"x\"}}"));
    EXPECT_EQ((Map{{"a", ""}, {"b", "1"}, {"c", "2"}}), Parse("{\r\n\t\"a\":\t{\"b\":1},\n\"c\" : 2\n}"));
}

TEST(ParseFlatTest, StringEscapes)
{
    EXPECT_EQ("line\nnext \xC3\xA9", Parse("{\"t\": \"line\\nnext \\u00e9\"}")["t"]);
    EXPECT_EQ("\"/\\\b\f\r\t", Parse("{\"t\": \"\\\"\\/\\\\\\b\\f\\r\\t\"}")["t"]);
    EXPECT_EQ("\xE4\xB8\xAD", Parse("{\"t\": \"\\u4E2D\"}")["t"]);
    // A surrogate pair is one character; a lone half is kept as it came.
    EXPECT_EQ("\xF0\x9F\x98\x80", Parse("{\"t\": \"\\ud83d\\ude00\"}")["t"]);
    EXPECT_EQ("\xED\xA0\xBD!", Parse("{\"t\": \"\\ud83d!\"}")["t"]);
    // A bad escape ends the value with what was decoded so far.
    EXPECT_EQ("ab", Parse("{\"t\": \"ab\\qcd\"}")["t"]);
    EXPECT_EQ("ab", Parse("{\"t\": \"ab\\u12G4cd\"}")["t"]);
}

TEST(ParseFlatTest, EscapedQuoteDoesNotEndTheValue)
{
    EXPECT_EQ((Map{{"msg", "say \"hi\", \"x\": 1"}, {"next", "2"}}),
              Parse("{\"msg\": \"say \\\"hi\\\", \\\"x\\\": 1\", \"next\": 2}"));
}

TEST(ParseFlatTest, UnfinishedEndsStopTheScan)
{
    // The strings of a final array have no colon after them: the scan ends there.
    EXPECT_EQ((Map{{"a", "1"}, {"list", "[\"x\""}}), Parse("{\"a\": 1, \"list\": [\"x\", \"y\"]}"));
    EXPECT_EQ((Map{{"a", "1"}, {"b", "open"}}), Parse("{\"a\": 1, \"b\": \"open"));
    EXPECT_EQ((Map{{"a", "1"}}), Parse("{\"a\": 1, \"b"));
    EXPECT_EQ((Map{{"a", "1"}}), Parse("{\"a\": 1, \"b\":  \n"));
    EXPECT_EQ((Map{{"a", "7"}}), Parse("{\"a\":7"));
}

TEST(ParseFlatTest, DashForm)
{
    EXPECT_EQ((Map{{"user", "bob"}}), Parse("-=user-=bob-="));
    EXPECT_EQ((Map{{"a", "1"}, {"k", "v"}}), Parse("-a=1-{ \"k\" =\t\"v\" }-unpaired"));
}

TEST(ParseFlatTest, OtherTextChangesNothingAndLaterKeysWin)
{
    Map values{{"keep", "me"}};
    ParseFlat("", values);
    ParseFlat(" {\"a\": 1}", values);
    ParseFlat("[{\"a\": 1}]", values);
    EXPECT_EQ((Map{{"keep", "me"}}), values);
    ParseFlat("{\"keep\": \"first\", \"keep\": \"second\"}", values);
    EXPECT_EQ("second", values["keep"]);
}

} // namespace
