#include "services/json_document.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

CKrVariant Int(int32_t n)
{
    CKrVariant v;
    v.SetInt(n);
    return v;
}

CKrVariant Text(const char* s)
{
    CKrVariant v;
    v.SetString(s);
    return v;
}

std::string Json(const CKrJsonDocument& doc)
{
    std::string out;
    doc.ToString(out);
    return out;
}

TEST(JsonDocumentTest, NewDocumentIsNull)
{
    CKrJsonDocument doc;
    EXPECT_EQ("null", Json(doc));
    EXPECT_EQ(nullptr, doc.Find());
}

TEST(JsonDocumentTest, IndexPathsAppendAndNeverSkip)
{
    CKrJsonDocument doc;
    ASSERT_TRUE(doc.Set("events[0]", Int(0), CKrJsonDocument::kKindInt));
    EXPECT_EQ("{\"events\":[0]}", Json(doc));
    ASSERT_TRUE(doc.Set("events[1]", Int(5), CKrJsonDocument::kKindInt));
    rapidjson::Value* found = doc.Find();
    ASSERT_NE(nullptr, found);
    EXPECT_EQ(5, found->GetInt());
    EXPECT_EQ("{\"events\":[0,5]}", Json(doc));

    // events[3] with two elements: a null is appended, then the path still misses.
    EXPECT_FALSE(doc.Set("events[3]", Int(9), CKrJsonDocument::kKindInt));
    EXPECT_EQ("{\"events\":[0,5,null]}", Json(doc));

    // A path ending on an array appends to it.
    ASSERT_TRUE(doc.Set("events", Int(7), CKrJsonDocument::kKindInt));
    EXPECT_EQ("{\"events\":[0,5,null,7]}", Json(doc));
}

TEST(JsonDocumentTest, MemberAndMixedPathsBuildTheirChain)
{
    CKrJsonDocument doc;
    ASSERT_TRUE(doc.Set("a/b/c", Int(1), CKrJsonDocument::kKindInt));
    ASSERT_TRUE(doc.Set("a/b/d", Text("x"), CKrJsonDocument::kKindString));
    ASSERT_TRUE(doc.Set("list[0]/name", Text("n"), CKrJsonDocument::kKindString));
    ASSERT_TRUE(doc.Set("list[0]/age", Int(3), CKrJsonDocument::kKindInt));
    // A member token on an array reads as an index.
    ASSERT_TRUE(doc.Set("list/0/age", Int(4), CKrJsonDocument::kKindInt));
    EXPECT_EQ("{\"a\":{\"b\":{\"c\":1,\"d\":\"x\"}},\"list\":[{\"name\":\"n\",\"age\":4}]}", Json(doc));
    EXPECT_EQ(3u, doc.GetResolvedDepth());
}

TEST(JsonDocumentTest, UnreachablePathsFailWithoutDamage)
{
    CKrJsonDocument doc;
    EXPECT_FALSE(doc.Set("", Int(1), CKrJsonDocument::kKindInt));
    EXPECT_FALSE(doc.Set("/[]/", Int(1), CKrJsonDocument::kKindInt));
    EXPECT_FALSE(doc.Set("events[x]", Int(1), CKrJsonDocument::kKindInt));
    EXPECT_FALSE(doc.Set("events[-1]", Int(1), CKrJsonDocument::kKindInt));
    EXPECT_EQ("null", Json(doc));

    ASSERT_TRUE(doc.Set("a", Int(1), CKrJsonDocument::kKindInt));
    ASSERT_TRUE(doc.Set("o/x", Int(2), CKrJsonDocument::kKindInt));
    // Below a number, or an index into an object: nothing to build on.
    EXPECT_FALSE(doc.Set("a/b", Int(3), CKrJsonDocument::kKindInt));
    EXPECT_FALSE(doc.Set("o[0]", Int(3), CKrJsonDocument::kKindInt));
    EXPECT_FALSE(doc.Set("list[99999999999999999999]", Int(3), CKrJsonDocument::kKindInt));
    EXPECT_EQ("{\"a\":1,\"o\":{\"x\":2},\"list\":[null]}", Json(doc));

    std::string deep;
    for (int i = 0; i < 65; ++i)
        deep += "d/";
    EXPECT_FALSE(doc.Set(deep, Int(1), CKrJsonDocument::kKindInt));
}

TEST(JsonDocumentTest, LookupErrors)
{
    CKrJsonDocument array;
    ASSERT_TRUE(array.Set("[0]", Int(1), CKrJsonDocument::kKindInt));
    EXPECT_EQ("[1]", Json(array));
    EXPECT_FALSE(array.Set("[5]", Int(1), CKrJsonDocument::kKindInt));
    EXPECT_EQ(CKrJsonDocument::kLookupFirstIndexOutOfRange, array.GetLookupError());
    // A member path on an array root starts the document over as an object.
    ASSERT_TRUE(array.Set("m", Int(1), CKrJsonDocument::kKindInt));
    EXPECT_EQ("{\"m\":1}", Json(array));
    EXPECT_FALSE(array.Set("n[3]", Int(1), CKrJsonDocument::kKindInt));
    EXPECT_EQ(CKrJsonDocument::kLookupMismatch, array.GetLookupError());
    array.Set("q[0]", Int(1), CKrJsonDocument::kKindInt);
    EXPECT_NE(nullptr, array.Find());
}

TEST(JsonDocumentTest, KindsDecideTheStoredType)
{
    CKrJsonDocument doc;
    CKrVariant& v = doc.scratch;
    v.SetFloat(0.1f);
    ASSERT_TRUE(doc.Set("f", v, CKrJsonDocument::kKindDouble));
    v.SetType(CKrVariant::kFloat);
    ASSERT_TRUE(doc.Set("zero", v, CKrJsonDocument::kKindDouble));
    v.SetFloat(std::numeric_limits<float>::quiet_NaN());
    ASSERT_TRUE(doc.Set("nan", v, CKrJsonDocument::kKindDouble));
    v.SetType(CKrVariant::kInt);
    v.SetInt(2);
    ASSERT_TRUE(doc.Set("two", v, CKrJsonDocument::kKindBool));
    v.SetInt(1);
    ASSERT_TRUE(doc.Set("one", v, CKrJsonDocument::kKindBool));
    v.SetInt(-5);
    ASSERT_TRUE(doc.Set("neg", v, CKrJsonDocument::kKindInt));
    ASSERT_TRUE(doc.Set("u", v, CKrJsonDocument::kKindUnsigned));
    ASSERT_TRUE(doc.Set("s", v, CKrJsonDocument::kKindString));
    ASSERT_TRUE(doc.Set("skip", v, 5));
    v.SetType(CKrVariant::kString);
    v.SetString("q\"\\\x01");
    ASSERT_TRUE(doc.Set("text", v, CKrJsonDocument::kKindString));
    EXPECT_EQ("{\"f\":0.10000000149011612,\"zero\":0.0,\"nan\":null,\"two\":false,\"one\":true,\"neg\":-5,"
              "\"u\":4294967291,\"s\":\"-5\",\"skip\":null,\"text\":\"q\\\"\\\\\\u0001\"}",
              Json(doc));
}

TEST(JsonDocumentTest, CopiesAreDeep)
{
    CKrJsonDocument original;
    original.Set("name", Text("first"), CKrJsonDocument::kKindString);
    original.scratch.SetInt(4);
    CKrJsonDocument copy(original);
    copy.Set("name", Text("second"), CKrJsonDocument::kKindString);
    EXPECT_EQ("{\"name\":\"first\"}", Json(original));
    EXPECT_EQ("{\"name\":\"second\"}", Json(copy));
    EXPECT_EQ(4, copy.scratch.AsInt());

    CKrJsonDocument assigned;
    assigned = original;
    original.Clear();
    EXPECT_EQ("{\"name\":\"first\"}", Json(assigned));
}

TEST(JsonDocumentTest, BatchOfEventsThroughCopyIntoAndClear)
{
    CKrJsonDocument event;
    event.scratch.SetType(CKrVariant::kUnsigned);
    event.scratch.SetUnsigned(10007);
    ASSERT_TRUE(event.Set("event_type", event.scratch, CKrJsonDocument::kKindUnsigned));
    ASSERT_TRUE(event.Set("percentage", Int(40), CKrJsonDocument::kKindInt));

    CKrJsonDocument batch;
    for (int round = 0; round < 2; ++round)
    {
        CKrVariant customer;
        customer.SetUnsigned(1234);
        ASSERT_TRUE(batch.Set("customer_id", customer, CKrJsonDocument::kKindUnsigned));
        for (int n = 0; n < 2; ++n)
        {
            ASSERT_TRUE(batch.Set("events[" + std::to_string(n) + "]", Int(0), CKrJsonDocument::kKindInt));
            rapidjson::Value* slot = batch.Find();
            ASSERT_NE(nullptr, slot);
            batch.CopyInto(*slot, event);
        }
        EXPECT_EQ("{\"customer_id\":1234,\"events\":[{\"event_type\":10007,\"percentage\":40},"
                  "{\"event_type\":10007,\"percentage\":40}]}",
                  Json(batch));
        batch.Clear();
        EXPECT_EQ("{}", Json(batch));
    }

    // Copying a document into a part of itself.
    batch.Set("a/b", Int(1), CKrJsonDocument::kKindInt);
    batch.CopyInto(*batch.Find(), batch);
    EXPECT_EQ("{\"a\":{\"b\":{\"a\":{\"b\":1}}}}", Json(batch));

    CKrJsonDocument array;
    array.Set("[0]", Int(1), CKrJsonDocument::kKindInt);
    array.Clear();
    EXPECT_EQ("[]", Json(array));
}

} // namespace
