#include "common/TestKit.h"

#include "engine/common/Profile.h"

using namespace engine;

TEST(Profile, PacsNamesSelectionAndTheDotRule)
{
    const auto Z = Profile::ArztUndPraxis, S = Profile::Starc, G = Profile::Gemed, H = Profile::Hipax;
    EXPECT_EQ(ProfileFor("ARZT UND PRAXIS"), Z);
    EXPECT_EQ(ProfileFor("starc"), S);
    EXPECT_EQ(ProfileFor("GEMED"), G);
    EXPECT_EQ(ProfileFor("Hipax"), H);
    for (const char* unknown : {"", "cboPACS", "Arzt und Praxis ", "GEMED2", "Ärzte"}) {
        EXPECT_EQ(ProfileFor(unknown), std::nullopt) << unknown;
    }
    const std::tuple<Profile, const char*, bool, bool> names[] = {{Z, "IMG0001.Z", true, false},
        {Z, "IMG0001.r", true, false}, {Z, "NOEXTZ", true, false}, {Z, "scan.dcm", false, false},
        {Z, "IMG.Z ", false, false}, {S, "x.ar", true, false}, {S, "X.AR", true, false}, {S, "x.arz", false, false},
        {S, "xar", false, false}, {G, "1234", true, false}, {G, "1234.dcm", true, true}, {H, "1234.dcm", true, false}};
    for (const auto& [profile, name, selected, skipped] : names) {
        EXPECT_EQ(IsSelected(profile, name), selected) << name;
        EXPECT_EQ(SkippedByDotRule(profile, name), skipped) << name;
    }
    EXPECT_EQ(BaseName("IMAGE001.DCZ") + "|" + BaseName("a.b.c.Z") + "|" + BaseName("NOEXTZ") + "|" + BaseName(".Z"),
        "IMAGE001|a.b.c|NOEXTZ|");
}
