#pragma once

#include <string_view>

// Fixed texts. The German ones are what operators have always seen, spelling included; the English
// ones are what existing log readers match on. Do not correct either.
namespace engine::texts {

inline constexpr std::string_view AppTitle = "Zet-Pelta";

inline constexpr std::string_view SourceMissingLog = "Source folder doesn´t exist.";
inline constexpr std::string_view SourceMissingBox = "Quellverzeichnis exestiert nicht.";
inline constexpr std::string_view DestMissingLog = "Destination folder doesn´t exist.";
inline constexpr std::string_view DestMissingBox = "Zielordner exestiert nicht.";
inline constexpr std::string_view TempMissingLog = "Temp folder doesn´t exist.";
inline constexpr std::string_view TempMissingBox = "Tempverzeichnis exestiert nicht.";
inline constexpr std::string_view UnknownPacsLog = "Unknown PACS system.";
inline constexpr std::string_view UnknownPacsBox = "PACS-System ist unbekannt.";
inline constexpr std::string_view KnownPacsSystems = "PACS-Systeme: "; // and the systems' names
inline constexpr std::string_view WorkFolderLog = "Temp work folder could not be created.";
inline constexpr std::string_view WorkFolderBox = "Arbeitsverzeichnis konnte nicht angelegt werden.";
inline constexpr std::string_view SameFolderLog = "Source folder is the destination folder.";
inline constexpr std::string_view SameFolderBox
    = "Quellverzeichnis und Zielverzeichnis sind derselbe Ordner; bitte ein anderes Zielverzeichnis wählen.";
inline constexpr std::string_view SourceIsQuarantineLog = "Source folder is the destination's BadObjects folder.";
inline constexpr std::string_view SourceIsQuarantineBox
    = "Quellverzeichnis ist der Ordner BadObjects des Zielverzeichnisses; bitte ein anderes Zielverzeichnis wählen.";
// Checks the old tool never made; their texts are new, in its manner.
inline constexpr std::string_view SourceNotAFolderLog = "Source folder is a file.";
inline constexpr std::string_view SourceNotAFolderBox = "Quellverzeichnis ist kein Ordner, sondern eine Datei: ";
inline constexpr std::string_view DestNotAFolderLog = "Destination folder is a file.";
inline constexpr std::string_view DestNotAFolderBox = "Zielordner ist kein Ordner, sondern eine Datei: ";
inline constexpr std::string_view TempNotAFolderLog = "Temp folder is a file.";
inline constexpr std::string_view TempNotAFolderBox = "Tempverzeichnis ist kein Ordner, sondern eine Datei: ";
inline constexpr std::string_view DestNotWritableLog = "Destination folder cannot be written.";
inline constexpr std::string_view DestNotWritableBox = "In den Zielordner kann nicht geschrieben werden: ";
inline constexpr std::string_view EmptySource = "Die Quelle enthält keine Dateien. Ist eine CD / DVD eingelegt?";
inline constexpr std::string_view DiscBusyLog = "The disc is being migrated into the destination folder already.";
inline constexpr std::string_view DiscBusyBox
    = "Diese CD / DVD wird gerade schon in dieses Zielverzeichnis migriert (von einem anderen Zet-Pelta).";

inline constexpr std::string_view SourceStart = "Start";
inline constexpr std::string_view SourceScanFolder = "ScanFolder";
inline constexpr std::string_view SourceCorrectImage = "CorrectImage";

inline constexpr std::string_view SummaryCaption = "Migration abgeschlossen";
inline constexpr std::string_view SummaryCountsMiddle = " von ";
inline constexpr std::string_view SummaryCountsEnd = " Dateien konnten erfolgreich migriert werden.";
inline constexpr std::string_view SummaryNextDisc = "Bitte legen Sie die nächste CD / DVD ein.";

inline constexpr std::string_view WorkFolderName = "TempPelta";
inline constexpr std::string_view QuarantineFolder = "BadObjects";

} // namespace engine::texts

#include <cstdint>
#include <string>

namespace engine::texts {

// "3 von 40 Dateien durchsucht ..." while a folder is scanned (the first file shows 0).
inline std::string ScanProgress(std::int64_t position, std::int64_t count)
{
    return std::to_string(position) + " von " + std::to_string(count) + " Dateien durchsucht ...";
}

// The bar's text at the end of a run, the number of files scanned in the whole run twice.
inline std::string ClosingProgress(std::int64_t scanned)
{
    return std::to_string(scanned) + " von " + std::to_string(scanned) + " Dateien wurden überprüft.";
}

inline std::string Status(const std::string& filePath)
{
    return "Datei " + filePath + " wird migriert...";
}

// Asked when a run starts on a disc that was migrated into the destination before; date as
// "06.12.2026", the counts of that run.
inline constexpr std::string_view OnlyMissingQuestion = " Nur die fehlenden Dateien migrieren?";
inline std::string MigratedBefore(const std::string& date, const std::string& migrated, const std::string& selected)
{
    return "Diese CD / DVD wurde am " + date + " bereits migriert (" + migrated + " von " + selected + " Dateien)."
        + std::string(OnlyMissingQuestion);
}

// Below the summary when the disc looks like one of another PACS system than the run's.
inline std::string LooksLike(std::string_view system)
{
    return "Die CD / DVD sieht aus wie eine von " + std::string(system) + "; bitte das PACS-System prüfen.";
}

// Below the summary of a run that left out what an earlier run had written ("Ja", --only-missing).
inline std::string AlreadyThere(std::int64_t count)
{
    return count == 1
        ? "1 Bild war schon im Zielordner und wurde nicht noch einmal geschrieben."
        : std::to_string(count) + " Bilder waren schon im Zielordner und wurden nicht noch einmal geschrieben.";
}

// Below the summary when files the profile counts were left out by the "." rule (GEMED's index files).
inline std::string NotImagesOfTheSystem(std::int64_t count)
{
    return count == 1 ? "1 Datei ist kein Bild dieses PACS-Systems (Name mit Punkt, etwa eine Indexdatei) und wurde "
                        "nicht kopiert; kein Fehler."
                      : std::to_string(count)
            + " Dateien sind keine Bilder dieses PACS-Systems (Namen mit Punkt, etwa Indexdateien) und wurden nicht "
              "kopiert; kein Fehler.";
}

// A send record's comment for an image the node held before it was sent.
inline constexpr std::string_view AlreadyInPacs = "schon im PACS, nicht erneut gesendet";
inline std::string SendRecordsNotWritten(const std::string& path)
{
    return "Sendebericht nicht geschrieben: " + path;
}

// After a send: "3 von 5 Bildern im PACS bestätigt."
inline std::string ConfirmedLine(std::int64_t confirmed, std::int64_t total)
{
    return std::to_string(confirmed) + " von " + std::to_string(total) + " Bildern im PACS bestätigt.";
}

// Below the confirmed count: how many images of the folder no report of this program lists.
inline std::string UnreportedLine(std::int64_t unreported)
{
    return std::to_string(unreported) + (unreported == 1 ? " Bild im Zielordner steht" : " Bilder im Zielordner stehen")
        + " in keinem Laufbericht dieses Programms (von einer anderen Zet-Pelta-Kopie oder von Hand dorthin gelegt) "
          "und "
        + (unreported == 1 ? "ist" : "sind") + " mitgezählt.";
}

inline std::string Summary(std::int64_t migrated, std::int64_t checked)
{
    return std::to_string(migrated) + std::string(SummaryCountsMiddle) + std::to_string(checked)
        + std::string(SummaryCountsEnd) + "\r\n\r\n" + std::string(SummaryNextDisc);
}

} // namespace engine::texts
