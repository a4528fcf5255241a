// Which archives may be extracted side by side: never two that write one file, whichever way a file
// system spells its name.
#include "install/extract_claims.h"

#include <gtest/gtest.h>

namespace
{

CKrExtractClaims::Claim Of(const std::vector<std::string>& paths)
{
    CKrExtractClaims::Claim claim;
    for (const std::string& path : paths)
        claim.Add(path);
    claim.Seal();
    return claim;
}

bool Meet(const std::vector<std::string>& a, const std::vector<std::string>& b)
{
    CKrExtractClaims claims;
    CKrExtractClaims::Claim first = Of(a);
    CKrExtractClaims::Claim second = Of(b);
    EXPECT_TRUE(claims.TryHold(1, first));
    bool met = !claims.TryHold(2, second);
    claims.Release(1);
    claims.Release(2);
    EXPECT_TRUE(claims.TryHold(2, second)) << "released claims meet nothing";
    return met;
}

} // namespace

TEST(ExtractClaimsTest, NamesOfOneFileMeetHoweverTheyAreSpelt)
{
    const std::vector<std::string> file{"game/Data/Level1.map"};
    for (const char* other : {"game/Data/Level1.map", "GAME/data/LEVEL1.MAP", "game\\Data\\Level1.map",
                              "game/Data/Level1.map.", "game/Data/Level1.map ", "game/Data./Level1.map",
                              "game//Data/Level1.map", "game/Data/LEVEL~1.MAP"})
        EXPECT_TRUE(Meet(file, {"game/Data/other.bin", other})) << other;
    // Case partners outside ASCII: the Kelvin sign for "k", a long s for "s", a dotted capital I.
    EXPECT_TRUE(Meet({"d/\xE2\x84\xAA" "ey.bin"}, {"d/key.bin"}));
    EXPECT_TRUE(Meet({"d/\xC5\xBF" "ave.bin"}, {"d/SAVE.bin"}));
    EXPECT_TRUE(Meet({"d/\xC4\xB0tem.bin"}, {"d/item.bin"}));
    EXPECT_TRUE(Meet({"d/\xC3\x84" "pfel.txt"}, {"d/\xC3\xA4" "pfel.txt"}));
}

TEST(ExtractClaimsTest, DifferentFilesAndSharedDirectoriesDoNotMeet)
{
    EXPECT_FALSE(Meet({"game/Data/", "game/Data/a.bin", "game/Data/maps/"},
                      {"game/Data/", "game/Data/b.bin", "game/Data/maps/", "game/Data/maps/c.bin"}));
    EXPECT_FALSE(Meet({"game/Data/a.bin"}, {"game/Data/a.bin2"}));
    EXPECT_FALSE(Meet({"game/Data/a.bin"}, {"game/Data/a/bin"}));
    EXPECT_FALSE(Meet({}, {"game/Data/a.bin"}));
}

TEST(ExtractClaimsTest, AClaimWaitsOnlyForTheClaimsItMeets)
{
    CKrExtractClaims claims;
    CKrExtractClaims::Claim a = Of({"x/1", "x/2"});
    CKrExtractClaims::Claim b = Of({"x/3"});
    CKrExtractClaims::Claim c = Of({"x/2", "x/3"});
    ASSERT_TRUE(claims.TryHold(1, a));
    ASSERT_TRUE(claims.TryHold(2, b));
    EXPECT_FALSE(claims.TryHold(3, c));
    claims.Release(1);
    EXPECT_FALSE(claims.TryHold(3, c)) << "still meets the second";
    claims.Release(2);
    EXPECT_TRUE(claims.TryHold(3, c));
    EXPECT_FALSE(claims.TryHold(4, a)) << "a failed try held nothing, a held one holds";
}
