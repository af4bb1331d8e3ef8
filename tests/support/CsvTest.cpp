#include "common/TestKit.h"

#include "support/Csv.h"

TEST(Csv, QuotesWhatNeedsItEscapesWhatIsNotUtf8AndReadsBackInAnyPieces)
{
    const std::pair<std::string, std::string> cases[]
        = {{"plain", "plain"}, {"a,b", "\"a,b\""}, {"say \"hi\"", "\"say \"\"hi\"\"\""},
            {"line\nbreak", "\"line\nbreak\""}, {"cr\r", "\"cr\r\""}, {"Röntgen ä", "Röntgen ä"},
            {"Bild\xff\xfe", "Bild\\xFF\\xFE"}, {"\xc3", "\\xC3"}, {"\xed\xa0\x80", "\\xED\\xA0\\x80"}, {"", ""}};
    std::vector<std::string> fields;
    std::vector<std::string> readBack;
    for (const auto& [text, field] : cases) {
        EXPECT_EQ(support::CsvField(text), field) << text;
        fields.push_back(text);
        readBack.push_back(field.find("\\x") == std::string::npos ? text : field);
    }
    const std::string content
        = "\xEF\xBB\xBF" + support::CsvLine(fields) + support::CsvLine({"x", "y"}) + "a,\"b\"\"\",c\nlast,\"q\"";
    const std::vector<std::vector<std::string>> expected = {readBack, {"x", "y"}, {"a", "b\"", "c"}, {"last", "q"}};
    EXPECT_EQ(support::ParseCsv(content), expected);
    // A doubled quote, a CR LF or the byte-order mark split between two pieces changes nothing.
    for (std::size_t piece : {1, 2, 3, 7}) {
        std::vector<std::vector<std::string>> records;
        support::CsvParser parser([&](std::vector<std::string>& record) { records.push_back(record); });
        for (std::size_t at = 0; at < content.size(); at += piece) {
            parser.Feed(std::string_view(content).substr(at, piece));
        }
        parser.Finish();
        EXPECT_EQ(records, expected) << "pieces of " << piece;
    }
}
