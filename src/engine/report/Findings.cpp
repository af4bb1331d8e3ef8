#include "engine/report/Findings.h"

#include "support/FileSystem.h"

namespace engine {

std::string StudiesLine(const Findings& findings)
{
    if (findings.images == 0) {
        return {};
    }
    const auto count = [](std::int64_t n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    return count(findings.images, "Bild", "Bilder") + " aus " + count(findings.studies, "Studie", "Studien") + " von "
        + count(findings.patients, "Patienten", "Patienten") + ".";
}

std::vector<std::string> FindingLines(const Findings& findings)
{
    const struct
    {
        std::int64_t count;
        const char* one;
        const char* many;
    } kinds[] = {
        {findings.damaged, " Bild ist beschädigt und nicht lesbar; ein PACS nimmt es nicht, bitte prüfen",
            " Bilder sind beschädigt und nicht lesbar; ein PACS nimmt sie nicht, bitte prüfen"},
        {findings.notDicom - findings.damaged, " Datei ist kein gültiges DICOM (kein Bild, etwa eine Textdatei)",
            " Dateien sind kein gültiges DICOM (keine Bilder, etwa Textdateien)"},
        {findings.notAnImage, " Datei ist kein Bild, das ein PACS aufnimmt: DICOMDIR oder fehlende UIDs",
            " Dateien sind keine Bilder, die ein PACS aufnimmt: DICOMDIR oder fehlende UIDs"},
        {findings.noPart10Header, " Datei hat keinen DICOM-Dateikopf; strenge PACS lehnen sie ab",
            " Dateien haben keinen DICOM-Dateikopf; strenge PACS lehnen sie ab"},
        {findings.duplicates, " Bild war schon einmal migriert worden", " Bilder waren schon einmal migriert worden"},
        {findings.retried, " Datei konnte beim ersten Versuch nicht gelesen werden und wurde am Ende erneut gelesen",
            " Dateien konnten beim ersten Versuch nicht gelesen werden und wurden am Ende erneut gelesen"},
    };
    std::vector<std::string> lines;
    for (const auto& kind : kinds) {
        if (kind.count > 0) {
            lines.push_back(
                std::to_string(kind.count) + (kind.count == 1 ? kind.one : kind.many) + " (siehe Bericht).");
        }
    }
    return lines;
}

std::string ReportLine(const std::string& reportPath)
{
    return reportPath.empty() ? "Bericht: konnte nicht geschrieben werden."
                              : "Bericht: " + support::ShownPath(reportPath);
}

} // namespace engine
