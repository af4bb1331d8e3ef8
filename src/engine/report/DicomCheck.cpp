#include "engine/report/DicomCheck.h"

#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/oflog/oflog.h>

namespace engine {

namespace {

// Values longer than this stay in the file while it is parsed; their length is still checked
// against the file's end, so a cut image does not parse.
constexpr Uint32 LargeValueBytes = 4096;

std::string Value(DcmItem& item, const DcmTagKey& tag)
{
    OFString value;
    return item.findAndGetOFString(tag, value).good() ? std::string(value.c_str()) : std::string();
}

} // namespace

DicomInfo CheckDicomFile(const std::string& path)
{
    // DCMTK would tell its warnings on stderr; what matters here is the verdict.
    static const bool quiet = [] {
        OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
        return true;
    }();
    (void)quiet;

    DicomInfo info;
    DcmFileFormat file;
    const OFCondition status = file.loadFile(path.c_str(), EXS_Unknown, EGL_noChange, LargeValueBytes, ERM_autoDetect);
    if (status.bad()) {
        info.problem = status.text();
        return info;
    }
    DcmDataset& dataset = *file.getDataset();
    info.parsed = true;
    info.sopInstanceUid = Value(dataset, DCM_SOPInstanceUID);
    info.studyInstanceUid = Value(dataset, DCM_StudyInstanceUID);
    info.modality = Value(dataset, DCM_Modality);
    info.transferSyntax = DcmXfer(dataset.getOriginalXfer()).getXferID();
    return info;
}

} // namespace engine
