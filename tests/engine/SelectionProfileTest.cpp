#include <gtest/gtest.h>

#include "engine/SelectionProfile.h"

using namespace engine;

TEST(SelectionProfile, PacsTextsMapToProfiles)
{
    EXPECT_EQ(FileFilterFor("Arzt und Praxis"), "Z");
    EXPECT_EQ(FileFilterFor("ARZT UND PRAXIS"), "Z");
    EXPECT_EQ(FileFilterFor("starc"), "STARC");
    EXPECT_EQ(FileFilterFor("GEMED"), "");
    EXPECT_EQ(FileFilterFor("Hipax"), "");
    for (const char* unknown : {"", "cboPACS", "Arzt und Praxis ", "GEMED2", "Ärzte"}) {
        EXPECT_EQ(FileFilterFor(unknown), std::nullopt) << unknown;
    }
}

TEST(SelectionProfile, NamesSelectedPerProfile)
{
    struct Case
    {
        const char* filter;
        const char* name;
        bool selected;
    };
    for (const Case& c : std::vector<Case> {{"Z", "IMG0001.Z", true}, {"Z", "IMG0001.R", true}, {"Z", "a.z", true},
             {"Z", "NOEXTZ", true}, {"Z", "scan.dcm", false}, {"Z", "IMG0001.Z ", false}, {"STARC", "x.ar", true},
             {"STARC", "X.AR", true}, {"STARC", "x.arz", false}, {"STARC", "xar", false}, {"STARC", ".ar", true},
             {"", "1234", true}, {"", "1234.dcm", true}, {"", "", true}}) {
        SCOPED_TRACE(std::string(c.filter) + " / " + c.name);
        EXPECT_EQ(IsSelected(c.filter, c.name), c.selected);
    }
}

TEST(SelectionProfile, BaseNamesAndTheDotRule)
{
    EXPECT_EQ(BaseName("IMAGE001.DCZ"), "IMAGE001");
    EXPECT_EQ(BaseName("a.b.c.Z"), "a.b.c");
    EXPECT_EQ(BaseName("NOEXTZ"), "NOEXTZ");
    EXPECT_EQ(BaseName(".Z"), "");

    EXPECT_TRUE(SkippedByDotRule("GEMED", "1234.dcm"));
    EXPECT_FALSE(SkippedByDotRule("GEMED", "1234"));
    EXPECT_FALSE(SkippedByDotRule("hipax", "1234.dcm"));
}
