#pragma once

#include <string>

namespace engine {

// What a written image is as DICOM: a Part 10 file (preamble and meta header) or a bare dataset,
// read with DCMTK. The check reads the file's elements but leaves large values (pixel data) on disk.
struct DicomInfo
{
    bool parsed = false;
    std::string problem; // why it does not parse
    std::string sopInstanceUid;
    std::string studyInstanceUid;
    std::string modality;
    std::string transferSyntax; // UID
};

DicomInfo CheckDicomFile(const std::string& path);

} // namespace engine
