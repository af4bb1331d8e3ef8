#include "common/TestKit.h"
#include "engine/report/DicomCheck.h"
#include "support/Utf8.h"

namespace {

const std::string Data = ZP_PYDICOM_DATA "/";

} // namespace

// Verdicts as the new PACS would give them, and values read right whatever their VR and character set.
TEST(DicomCheck, VerdictsUidsAndNamesAsAPacsReadsThem)
{
    TempDir dir;
    // CT_small with one digit of its SOP Instance UID made a letter: a PACS cannot file it under that.
    std::string ct = ReadFile(Data + "test_files/CT_small.dcm");
    const std::string uid = "1.3.6.1.4.1.5962.1.1.1.1.1.20040119072730.12322";
    ct[ct.rfind(uid) + 2] = 'x'; // the dataset's, not the meta header's copy
    WriteFile(dir / "bad-uid.dcm", ct);

    const struct
    {
        std::string file, verdict, sopUid, studyUid, name;
    } cases[] = {
        {Data + "test_files/CT_small.dcm", "ok", uid, "1.3.6.1.4.1.5962.1.2.1.20040119072730.12322",
            "CompressedSamples^CT1"},
        // Stored with VR UN: read by the dictionary, not as a dump of bytes.
        {Data + "test_files/rtdose_rle.dcm", "ok", "1.9.999.999.99.9.9999.9999.20030818153516",
            "1.2.999.999.99.9.9999.8888", "Lastname^Firstname"},
        {Data + "test_files/ExplVR_LitEndNoMeta.dcm", "no Part 10 header", "", "", ""},
        {Data + "test_files/dicomdirtests/DICOMDIR", "not an image: DICOMDIR", "", "", ""},
        {Data + "palettes/fall.dcm", "not an image: missing Study Instance UID, Series Instance UID", "", "", ""},
        {dir / "bad-uid.dcm", "not an image: invalid SOP Instance UID", "", "", ""},
        {Data + "test_files/MR_truncated.dcm", "not DICOM: I/O suspension or premature end of stream", "", "", ""},
        {Data + "test_files/README.txt", "not DICOM: I/O suspension or premature end of stream", "", "", ""},
        // Names by the file's Specific Character Set: Latin-1, Cyrillic, and Japanese by escape sequences.
        {Data + "charset_files/chrGerm.dcm", "ok", "", "", "Äneas^Rüdiger"},
        {Data + "charset_files/chrRuss.dcm", "ok", "", "", "Люкceмбypг"},
        {Data + "charset_files/chrH31.dcm", "ok", "", "", "Yamada^Tarou=山田^太郎=やまだ^たろう"},
    };
    for (const auto& expected : cases) {
        const engine::DicomInfo info = engine::CheckDicomFile(expected.file);
        SCOPED_TRACE(expected.file);
        EXPECT_EQ(info.VerdictText(), expected.verdict);
        for (const auto& [value, wanted] : {std::pair {info.sopInstanceUid, expected.sopUid},
                 {info.studyInstanceUid, expected.studyUid}, {info.patientName, expected.name}}) {
            if (!wanted.empty() || !info.Parsed()) {
                EXPECT_EQ(value, wanted);
            }
        }
        EXPECT_TRUE(support::IsValidUtf8(info.patientName + info.studyDescription + info.problem));
    }
}

TEST(DicomCheck, TextThatIsNotUtf8IsReadAsLatin1)
{
    for (const auto& [text, valid] : std::initializer_list<std::pair<std::string, bool>> {{"Rüdiger", true},
             {"R\xfc"
              "diger",
                 false},
             {"\xc0\xaf", false} /* overlong "/" */, {"\xed\xa0\x80", false} /* surrogate */,
             {"\xf4\x90\x80\x80", false} /* past U+10FFFF */, {"\xe2\x82", false} /* cut */,
             {"\xf0\x9f\x98\x80", true}}) {
        EXPECT_EQ(support::IsValidUtf8(text), valid) << text;
        EXPECT_TRUE(support::IsValidUtf8(support::AsUtf8(text)));
    }
    EXPECT_EQ(support::AsUtf8("R\xfc"
                              "diger"),
        "Rüdiger");
}
