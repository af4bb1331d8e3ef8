#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace engine {

// What a PACS would make of a written file, judged as the new PACS's importer judges it.
enum class DicomVerdict {
    Ok, // a DICOM file (preamble and meta header) with the UIDs a PACS files an image under
    NoPart10Header, // a dataset a PACS could file, but without the meta header strict importers need
    NotAnImage, // DICOM, but a directory or an instance without what a PACS files it under
    NotDicom, // does not parse
};

// A written file as DICOM, read with DCMTK; large values (pixel data) stay on disk. Every text is
// UTF-8 (names decoded by the file's Specific Character Set) and every UID is empty or made of digits
// and dots, at most 64 characters: the report must never carry bytes a spreadsheet chokes on.
struct DicomInfo
{
    DicomVerdict verdict = DicomVerdict::NotDicom;
    std::string problem; // NotAnImage: what it is or lacks; NotDicom: why it does not parse
    std::string sopClassUid;
    std::string sopInstanceUid;
    std::string studyInstanceUid;
    std::string seriesInstanceUid;
    std::string modality;
    std::string transferSyntax; // UID, as the meta header names it or as detected
    std::string patientId;
    std::string patientName;
    std::string patientBirthDate;
    std::string studyDate;
    std::string studyDescription;
    std::string accessionNumber;

    // NotDicom, but a DICOM file that breaks off or is damaged (its meta header, or UIDs before the damage,
    // were read): an image that is lost unless the operator finds it again, unlike a text file.
    bool damaged = false;

    bool Parsed() const { return verdict != DicomVerdict::NotDicom; }
    // The report's dicom column: "ok", "no Part 10 header", "not an image: ...", "not DICOM: ...".
    std::string VerdictText() const;
};

// The verdict of a text VerdictText wrote; none for an empty text.
std::optional<DicomVerdict> VerdictOfText(std::string_view text);

DicomInfo CheckDicomFile(const std::string& path);

} // namespace engine
