#include "engine/check/DicomCheck.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/dcmdata/dcspchrs.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcvr.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/oflog/oflog.h>

#include <exception>
#include <vector>

#include "support/FileSystem.h"
#include "support/Utf8.h"

namespace engine {

namespace {

// Values longer than this stay in the file while it is parsed; their length is still checked
// against the file's end, so a cut image does not parse.
constexpr Uint32 LargeValueBytes = 4096;
constexpr std::size_t MaxUidLength = 64;

std::string Trimmed(const OFString& value)
{
    std::string text(value.c_str(), value.length());
    const auto padding = [](char c) { return c == ' ' || c == '\0'; };
    while (!text.empty() && padding(text.back())) {
        text.pop_back();
    }
    std::size_t start = 0;
    while (start < text.size() && padding(text[start])) {
        ++start;
    }
    return text.substr(start);
}

// The whole value, all its parts included (a name's ideographic and phonetic groups, say).
// Every value the check reads (UIDs, names, dates, character sets) comes through here. One longer than
// LargeValueBytes was left in the file while it was parsed, and is not fetched now: asking DCMTK for it
// would make it allocate whatever length the element declares (4 GB for a flipped bit), also past the
// end of a cut file. No text the check needs is that long; the first such length is noted instead.
struct LongValue
{
    std::string name;
    Uint32 length = 0;
};

// The length an element declares, as read from the file. DCMTK's getLength() of a text fetches the
// value to measure it (the very allocation to avoid); the declared length is a protected member, read
// here through a class of our own that may name it.
struct DeclaredLength : DcmElement
{
    static Uint32 Of(const DcmElement& element) { return (element.*(&DeclaredLength::getLengthField))(); }
};

std::string RawValue(DcmItem& item, const DcmTagKey& tag, LongValue* tooLong = nullptr)
{
    DcmElement* element = nullptr;
    if (item.findAndGetElement(tag, element).bad() || element == nullptr) {
        return {};
    }
    if (!element->valueLoaded()) {
        if (tooLong != nullptr && tooLong->length == 0) {
            *tooLong = {DcmTag(tag).getTagName(), DeclaredLength::Of(*element)};
        }
        return {};
    }
    OFString value;
    return element->getOFStringArray(value).good() ? Trimmed(value) : std::string();
}

bool IsUid(const std::string& text)
{
    return !text.empty() && text.size() <= MaxUidLength && text.find_first_not_of("0123456789.") == std::string::npos;
}

// Decodes texts by the dataset's Specific Character Set; where that is unknown to iconv or the bytes
// do not follow it, the text is read as Latin-1 instead, never dropped.
class TextDecoder
{
public:
    // The character set is read as every other value, never fetched whatever its declared length.
    explicit TextDecoder(DcmItem& dataset)
        : m_ready(m_converter.selectCharacterSet(OFString(RawValue(dataset, DCM_SpecificCharacterSet).c_str())).good())
    { }

    std::string Decode(const std::string& raw, const char* delimiters)
    {
        OFString converted;
        if (m_ready && m_converter.convertString(OFString(raw.data(), raw.size()), converted, delimiters).good()) {
            const std::string text(converted.c_str(), converted.length());
            if (support::IsValidUtf8(text)) {
                return text;
            }
        }
        // The Japanese character sets are not all known to every iconv by their DICOM names; their
        // escape sequences still say what they are.
        if (raw.find('\x1b') != std::string::npos) {
            if (std::string text = support::FromIso2022Jp(raw); !text.empty()) {
                return text;
            }
        }
        return support::AsUtf8(raw);
    }

private:
    DcmSpecificCharacterSet m_converter;
    bool m_ready;
};

// The UIDs a PACS files an image under, those that are valid; the names of those missing or invalid.
void ReadUids(DcmDataset& dataset, DicomInfo& info, std::vector<std::string>& missing,
    std::vector<std::string>& invalid, LongValue& tooLong)
{
    const struct
    {
        const DcmTagKey& tag;
        const char* name;
        std::string& uid;
    } needed[] = {
        {DCM_SOPClassUID, "SOP Class UID", info.sopClassUid},
        {DCM_SOPInstanceUID, "SOP Instance UID", info.sopInstanceUid},
        {DCM_StudyInstanceUID, "Study Instance UID", info.studyInstanceUid},
        {DCM_SeriesInstanceUID, "Series Instance UID", info.seriesInstanceUid},
    };
    for (const auto& [tag, name, uid] : needed) {
        uid = RawValue(dataset, tag, &tooLong);
        if (uid.empty()) {
            missing.emplace_back(name);
        } else if (!IsUid(uid)) {
            invalid.emplace_back(name);
            uid.clear();
        }
    }
}

// The verdict on a dataset that parsed: a directory, the UIDs a PACS needs, the meta header.
void Judge(DcmMetaInfo& meta, DcmDataset& dataset, DicomInfo& info, LongValue& tooLong)
{
    std::vector<std::string> missing;
    std::vector<std::string> invalid;
    ReadUids(dataset, info, missing, invalid, tooLong);
    if (RawValue(meta, DCM_MediaStorageSOPClassUID, &tooLong) == UID_MediaStorageDirectoryStorage
        || info.sopClassUid == UID_MediaStorageDirectoryStorage || dataset.tagExists(DCM_DirectoryRecordSequence)) {
        info.verdict = DicomVerdict::NotAnImage;
        info.problem = "DICOMDIR";
        return;
    }
    std::string lacks;
    const auto list = [&lacks](const char* what, const std::vector<std::string>& names) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            lacks += (lacks.empty() ? "" : i == 0 ? "; " : ", ") + std::string(i == 0 ? what : "") + names[i];
        }
    };
    list("missing ", missing);
    list("invalid ", invalid);
    if (!lacks.empty()) {
        info.verdict = DicomVerdict::NotAnImage;
        info.problem = lacks;
    } else {
        info.verdict = meta.card() == 0 ? DicomVerdict::NoPart10Header : DicomVerdict::Ok;
    }
}

DicomInfo Check(const std::string& path)
{
    DicomInfo info;
    DcmFileFormat file;
    const OFCondition status = file.loadFile(
        OFFilename(support::PathOf(path).c_str()), EXS_Unknown, EGL_noChange, LargeValueBytes, ERM_autoDetect);
    DcmDataset& dataset = *file.getDataset();
    LongValue tooLong;
    if (status.good()) {
        info.transferSyntax = DcmXfer(dataset.getOriginalXfer()).getXferID();
        Judge(*file.getMetaInfo(), dataset, info, tooLong);
    } else {
        // A cut or damaged file still names, in the elements read before the damage, whose image it
        // is: the operator needs exactly that to say which study is incomplete. The verdict stays.
        info.problem = status.text();
        std::vector<std::string> missing;
        std::vector<std::string> invalid;
        ReadUids(dataset, info, missing, invalid, tooLong);
        // Where the dataset broke before them, the meta header names the instance and its class.
        for (const auto& [tag, uid] :
            {std::pair<DcmTagKey, std::string*> {DCM_MediaStorageSOPInstanceUID, &info.sopInstanceUid},
                {DCM_MediaStorageSOPClassUID, &info.sopClassUid}}) {
            if (const std::string value = RawValue(*file.getMetaInfo(), tag, &tooLong); uid->empty() && IsUid(value)) {
                *uid = value;
            }
        }
        info.damaged = file.getMetaInfo()->card() > 0 || !info.sopInstanceUid.empty() || !info.studyInstanceUid.empty()
            || !info.seriesInstanceUid.empty() || !info.sopClassUid.empty();
    }

    TextDecoder decoder(dataset);
    const auto text = [&](const DcmTagKey& tag, const char* delimiters) {
        return decoder.Decode(RawValue(dataset, tag, &tooLong), delimiters);
    };
    info.modality = support::AsUtf8(RawValue(dataset, DCM_Modality, &tooLong));
    info.patientId = text(DCM_PatientID, "\\");
    info.patientName = text(DCM_PatientName, "\\^=");
    info.patientBirthDate = support::AsUtf8(RawValue(dataset, DCM_PatientBirthDate, &tooLong));
    info.studyDate = support::AsUtf8(RawValue(dataset, DCM_StudyDate, &tooLong));
    info.studyDescription = text(DCM_StudyDescription, "\\");
    info.accessionNumber = text(DCM_AccessionNumber, "\\");
    // A file that broke off because an element claims more than the file holds says which one.
    if (info.verdict == DicomVerdict::NotDicom && tooLong.length > support::FileSize(path).value_or(0)) {
        info.problem
            = "Länge von " + tooLong.name + " (" + std::to_string(tooLong.length) + " Bytes) passt nicht zur Datei";
    }
    return info;
}

} // namespace

namespace {

// The report's words for the verdicts; the last two go before what the file is, lacks or breaks at.
constexpr std::string_view OkWord = "ok";
constexpr std::string_view NoPart10HeaderWord = "no Part 10 header";
constexpr std::string_view NotAnImageWord = "not an image: ";
constexpr std::string_view NotDicomWord = "not DICOM: ";

} // namespace

std::string DicomInfo::VerdictText() const
{
    switch (verdict) {
    case DicomVerdict::Ok:
        return std::string(OkWord);
    case DicomVerdict::NoPart10Header:
        return std::string(NoPart10HeaderWord);
    case DicomVerdict::NotAnImage:
        return std::string(NotAnImageWord) + problem;
    case DicomVerdict::NotDicom:
        break;
    }
    return std::string(NotDicomWord) + problem;
}

std::optional<DicomVerdict> VerdictOfText(std::string_view text)
{
    if (text.empty()) {
        return std::nullopt;
    }
    return text == OkWord                  ? DicomVerdict::Ok
        : text == NoPart10HeaderWord       ? DicomVerdict::NoPart10Header
        : text.starts_with(NotAnImageWord) ? DicomVerdict::NotAnImage
                                           : DicomVerdict::NotDicom;
}

DicomInfo CheckDicomFile(const std::string& path)
{
    static const bool configured = [] {
        // DCMTK would tell its warnings on stderr; what matters here is the verdict.
        OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
        // A writer that did not know an element stores it with VR UN; read by the dictionary's VR, its
        // value is the text it holds rather than a dump of its bytes.
        dcmEnableUnknownVRConversion.set(OFTrue);
        return true;
    }();
    (void)configured;

    // DCMTK can throw on damaged input (a directory record whose type string is cut, say): such a file
    // does not parse, like any other it refuses.
    try {
        return Check(path);
    } catch (const std::exception& e) {
        DicomInfo info;
        info.problem = e.what();
        return info;
    }
}

} // namespace engine
