// Any bytes as a written image, judged by the same check that fills a run report's DICOM fields:
// it must give a verdict, valid UTF-8 in every text field, and UIDs that are empty or digits and
// dots of at most 64 characters, whatever DCMTK makes of the bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "engine/check/DicomCheck.h"
#include "support/Utf8.h"

namespace {

bool IsUidOrEmpty(const std::string& uid)
{
    return uid.size() <= 64 && uid.find_first_not_of("0123456789.") == std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The check reads a file, as it reads the run's output: one file per process, rewritten each time,
    // in memory where the system has a folder for that (a disk's page cache costs executions a second).
    static const std::string path = [] {
        static const std::string name = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp")
            + std::string("/zet-pelta-fuzz-dicom-") + std::to_string(::getpid()) + ".dcm";
        std::atexit([] { std::remove(name.c_str()); });
        return name;
    }();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
        std::abort(); // not the check's fault, but nothing would be tested
    }
    const engine::DicomInfo info = engine::CheckDicomFile(path);
    const std::string verdict = info.VerdictText();
    if (verdict.empty() || (info.verdict == engine::DicomVerdict::Ok && info.sopInstanceUid.empty())) {
        std::abort();
    }
    for (const std::string* uid :
        {&info.sopClassUid, &info.sopInstanceUid, &info.studyInstanceUid, &info.seriesInstanceUid}) {
        if (!IsUidOrEmpty(*uid)) {
            std::abort();
        }
    }
    for (const std::string* text : {&verdict, &info.modality, &info.transferSyntax, &info.patientId, &info.patientName,
             &info.patientBirthDate, &info.studyDate, &info.studyDescription, &info.accessionNumber}) {
        if (!support::IsValidUtf8(*text)) {
            std::abort();
        }
    }
    return 0;
}
