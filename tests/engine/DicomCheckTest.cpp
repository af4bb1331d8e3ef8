#include "common/TestKit.h"
#include "engine/check/DicomCheck.h"
#include "support/Utf8.h"

// Verdicts in the report's words, and values read right whatever their VR and character set. Which files
// a PACS takes is checked against a real one (tests/integration); these are the texts and the corners.
TEST(DicomCheck, VerdictsUidsAndNamesAsAPacsReadsThem)
{
    const std::string data = ZP_PYDICOM_DATA "/";
    TempDir dir;
    // CT_small with one digit of its SOP Instance UID made a letter: a PACS cannot file it under that.
    std::string ct = ReadFile(data + "test_files/CT_small.dcm");
    ct[ct.rfind("1.3.6.1.4.1.5962.1.1.1.1.1.20040119072730.12322") + 2] = 'x'; // the dataset's, not the meta header's
    WriteFile(dir / "bad-uid.dcm", ct);
    const std::tuple<std::string, std::string, std::string> cases[] = {
        // Stored with VR UN: read by the dictionary, not as a dump of bytes.
        {data + "test_files/rtdose_rle.dcm", "ok", "1.9.999.999.99.9.9999.9999.20030818153516"},
        {data + "test_files/ExplVR_LitEndNoMeta.dcm", "no Part 10 header", "1.2.333.4444.5.6.7.8"},
        {data + "test_files/dicomdirtests/DICOMDIR", "not an image: DICOMDIR", ""},
        {data + "palettes/fall.dcm", "not an image: missing Study Instance UID, Series Instance UID",
            "1.2.840.10008.1.5.7"},
        {dir / "bad-uid.dcm", "not an image: invalid SOP Instance UID", ""},
        // Names by the file's Specific Character Set: Latin-1, Cyrillic, and Japanese by escape sequences.
        {data + "charset_files/chrGerm.dcm", "ok", "Äneas^Rüdiger"},
        {data + "charset_files/chrH31.dcm", "ok", "Yamada^Tarou=山田^太郎=やまだ^たろう"},
    };
    for (const auto& [file, verdict, value] : cases) {
        const engine::DicomInfo info = engine::CheckDicomFile(file);
        EXPECT_EQ(info.VerdictText(), verdict) << file;
        EXPECT_EQ(value.empty() || value.starts_with("1.") ? info.sopInstanceUid : info.patientName, value) << file;
    }
    // Text that is not UTF-8 (overlong, a surrogate, past U+10FFFF, cut) is read as Latin-1.
    for (const char* text : {"R\xfc"
                             "diger",
             "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x82"}) {
        EXPECT_TRUE(!support::IsValidUtf8(text) && support::IsValidUtf8(support::AsUtf8(text))) << text;
    }
    EXPECT_EQ(support::AsUtf8("R\xfc"
                              "diger")
            + support::AsUtf8("\xf0\x9f\x98\x80"),
        "Rüdiger\xf0\x9f\x98\x80");
}
