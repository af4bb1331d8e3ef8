#include "engine/report/StudyList.h"

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

std::vector<StudyRow> StudyList::Rows() const
{
    std::vector<StudyRow> rows;
    for (const Study& study : m_studies) {
        std::string modalities;
        for (const std::string& modality : study.modalities) {
            modalities += (modalities.empty() ? "" : "\\") + modality;
        }
        const DicomInfo& first = study.first;
        rows.push_back({first.patientId, first.patientName, first.patientBirthDate, first.studyDate,
            first.studyDescription, first.accessionNumber, modalities, static_cast<std::int64_t>(study.series.size()),
            study.images, first.studyInstanceUid});
    }
    return rows;
}

} // namespace engine
