#include <gtest/gtest.h>

#include "engine/Profile.h"

using namespace engine;

TEST(SelectionProfile, PacsTextsMapToProfiles)
{
    EXPECT_EQ(ProfileFor("Arzt und Praxis"), Profile::ArztUndPraxis);
    EXPECT_EQ(ProfileFor("ARZT UND PRAXIS"), Profile::ArztUndPraxis);
    EXPECT_EQ(ProfileFor("starc"), Profile::Starc);
    EXPECT_EQ(ProfileFor("GEMED"), Profile::Gemed);
    EXPECT_EQ(ProfileFor("Hipax"), Profile::Hipax);
    for (const char* unknown : {"", "cboPACS", "Arzt und Praxis ", "GEMED2", "Ärzte"}) {
        EXPECT_EQ(ProfileFor(unknown), std::nullopt) << unknown;
    }
}

TEST(SelectionProfile, NamesSelectedPerProfile)
{
    struct Case
    {
        Profile profile;
        const char* name;
        bool selected;
    };
    const auto Z = Profile::ArztUndPraxis, S = Profile::Starc;
    for (const Case& c : std::vector<Case> {{Z, "IMG0001.Z", true}, {Z, "IMG0001.R", true}, {Z, "a.z", true},
             {Z, "NOEXTZ", true}, {Z, "scan.dcm", false}, {Z, "IMG0001.Z ", false}, {S, "x.ar", true},
             {S, "X.AR", true}, {S, "x.arz", false}, {S, "xar", false}, {S, ".ar", true},
             {Profile::Gemed, "1234", true}, {Profile::Gemed, "1234.dcm", true}, {Profile::Hipax, "", true}}) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsSelected(c.profile, c.name), c.selected);
    }
}

TEST(SelectionProfile, BaseNamesAndTheDotRule)
{
    EXPECT_EQ(BaseName("IMAGE001.DCZ"), "IMAGE001");
    EXPECT_EQ(BaseName("a.b.c.Z"), "a.b.c");
    EXPECT_EQ(BaseName("NOEXTZ"), "NOEXTZ");
    EXPECT_EQ(BaseName(".Z"), "");

    EXPECT_TRUE(SkippedByDotRule(Profile::Gemed, "1234.dcm"));
    EXPECT_FALSE(SkippedByDotRule(Profile::Gemed, "1234"));
    EXPECT_FALSE(SkippedByDotRule(Profile::Hipax, "1234.dcm"));
}
