#include "installhelper/signed_request.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using kr::helper::CKrHttpRequest;

TEST(HelperSignedRequest, QueryAndSignatureLayout)
{
    EXPECT_EQ("?signature_version=0", CKrHttpRequest::BuildQuery({}, 0));
    EXPECT_EQ("?a=1&b=2&signature_version=19", CKrHttpRequest::BuildQuery({{"a", "1"}, {"b", "2"}}, 19));
    // Known answer, computed independently with Python's hashlib.
    EXPECT_EQ("1f4be615915df369f3a58b527b2e6b9bacdf6dbd",
              CKrHttpRequest::SignQuery("?a=1&b=2&signature_version=3", "Tk03abcd"));
}

TEST(HelperSignedRequest, SchemeAndTextRules)
{
    EXPECT_EQ("http://127.0.0.1:8/data", CKrHttpRequest::WithHttpScheme("127.0.0.1:8/data"));
    EXPECT_EQ("http://host/data", CKrHttpRequest::WithHttpScheme("http://host/data"));
    EXPECT_EQ("http://https://host/data", CKrHttpRequest::WithHttpScheme("https://host/data"));
    EXPECT_EQ("http://HTTP://host", CKrHttpRequest::WithHttpScheme("HTTP://host"));

    std::string body = "x";
    const char piece[] = {'a', 'b', '\0', 'c', 'd'};
    CKrHttpRequest::AppendTextPiece(body, piece, sizeof(piece));
    CKrHttpRequest::AppendTextPiece(body, "ef", 2);
    EXPECT_EQ("xabef", body);
}

TEST(HelperSignedRequest, AKeyTableOfTheWrongSizeSendsNothing)
{
    CKrHttpRequest request({"only", "two"});
    EXPECT_EQ(0, request.SendSignedRequest("http://127.0.0.1:1/data"));
    EXPECT_EQ("", request.GetQuery());
}

TEST(HelperSignedRequest, TheKeyIndexIsTheRuntimesNextNumberModuloTwenty)
{
    std::vector<std::string> keys;
    for (int i = 0; i < CKrHttpRequest::kKeyCount; ++i)
        keys.push_back("Key" + std::to_string(10000 + i));
    // Seeds whose first number would pick the last key with a modulus of 21, and seeds where the two
    // moduli differ: the index must follow rand() % 20 in every one of them.
    int lastKeyCases = 0;
    int checked = 0;
    for (unsigned seed = 1; seed < 5000 && (lastKeyCases < 3 || checked < 20); ++seed)
    {
        std::srand(seed);
        const int number = std::rand();
        if (number % 21 == number % 20 && checked >= 20)
            continue;
        lastKeyCases += number % 21 == 20 ? 1 : 0;
        ++checked;
        std::srand(seed);
        CKrHttpRequest request(keys);
        request.SendSignedRequest("http://127.0.0.1:1/data"); // nothing listens; the query is built first
        EXPECT_EQ("?signature_version=" + std::to_string(number % 20), request.GetQuery()) << "seed " << seed;
    }
    EXPECT_GE(lastKeyCases, 3);
}
