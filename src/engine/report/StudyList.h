#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/check/DicomCheck.h"
#include "engine/records/ReportRows.h"

namespace engine {

// The studies a run wrote, for the report's <run>-studies.csv: what the operator compares with the
// disc's label and what the new PACS will show. A disc holds a few hundred studies at most, so they
// are kept whole; the images themselves are only counted.
class StudyList
{
public:
    // Counts an image a PACS can file; other files belong to no study.
    void Add(const DicomInfo& image);
    void Clear();

    std::int64_t Images() const { return m_images; }
    std::int64_t Studies() const { return static_cast<std::int64_t>(m_studies.size()); }
    std::int64_t Patients() const { return static_cast<std::int64_t>(m_patients.size()); }
    // A row per study, in the order the run met them.
    std::vector<StudyRow> Rows() const;

private:
    struct Study
    {
        DicomInfo first; // patient and study as the study's first image gives them
        std::set<std::string> modalities;
        std::unordered_set<std::string> series;
        std::int64_t images = 0;
    };
    std::vector<Study> m_studies;
    std::unordered_map<std::string, std::size_t> m_byUid;
    std::unordered_set<std::string> m_patients;
    std::int64_t m_images = 0;
};

} // namespace engine
