#include "engine/report/StudyList.h"

#include "support/Csv.h"

namespace engine {

void StudyList::Add(const DicomInfo& image)
{
    if (image.verdict != DicomVerdict::Ok && image.verdict != DicomVerdict::NoPart10Header) {
        return;
    }
    ++m_images;
    auto [at, added] = m_byUid.try_emplace(image.studyInstanceUid, m_studies.size());
    if (added) {
        m_studies.push_back({image, {}, {}, 0});
        // A patient is known by the ID; only where a system wrote none does the name tell patients apart.
        m_patients.insert(image.patientId.empty() ? "name:" + image.patientName : "id:" + image.patientId);
    }
    Study& study = m_studies[at->second];
    ++study.images;
    study.series.insert(image.seriesInstanceUid);
    if (!image.modality.empty()) {
        study.modalities.insert(image.modality);
    }
}

void StudyList::Clear()
{
    m_studies.clear();
    m_byUid.clear();
    m_patients.clear();
    m_images = 0;
}

std::string StudyList::Csv() const
{
    // The byte-order mark tells spreadsheets that the file is UTF-8.
    std::string text = "\xEF\xBB\xBF"
        + support::CsvLine({"patient_id", "patient_name", "patient_birth_date", "study_date", "study_description",
            "accession_number", "modalities", "series", "images", "study_instance_uid"});
    for (const Study& study : m_studies) {
        std::string modalities;
        for (const std::string& modality : study.modalities) {
            modalities += (modalities.empty() ? "" : "\\") + modality;
        }
        const DicomInfo& first = study.first;
        text += support::CsvLine({first.patientId, first.patientName, first.patientBirthDate, first.studyDate,
            first.studyDescription, first.accessionNumber, modalities, std::to_string(study.series.size()),
            std::to_string(study.images), first.studyInstanceUid});
    }
    return text;
}

} // namespace engine
