#pragma once

#include "scanning/Image.h"
#include "scanning/Patient.h"
#include "scanning/Series.h"
#include "scanning/Study.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace Dravelin::Test {

using TagValues = std::vector<std::pair<DcmTagKey, std::string>>;

// An in-memory dataset holding the given string values.
inline std::unique_ptr<DcmDataset> makeDataset(const TagValues& values)
{
    auto dataset = std::make_unique<DcmDataset>();
    for (const auto& [tag, value] : values)
        dataset->putAndInsertString(tag, value.c_str());
    return dataset;
}

// A complete chain patient -> study -> series -> image for one instance of a series.
inline Dicom::Patient* makeChain(const std::string& patientId, const std::string& name, const std::string& studyUid,
                                 const std::string& seriesUid, const TagValues& extra = {})
{
    TagValues values = {{DCM_PatientID, patientId},
                        {DCM_PatientName, name},
                        {DCM_StudyInstanceUID, studyUid},
                        {DCM_SeriesInstanceUID, seriesUid}};
    values.insert(values.end(), extra.begin(), extra.end());
    return new Dicom::Patient(*makeDataset(values), true);
}

inline Dicom::Image* firstImage(Dicom::Patient* patient)
{
    return patient->studies.front()->series.front()->images.front();
}

// Every series of the trees, in tree order.
inline std::vector<Dicom::Series*> allSeries(const std::vector<Dicom::Patient*>& patients)
{
    std::vector<Dicom::Series*> result;
    for (const Dicom::Patient* p : patients)
        for (const Dicom::Study* s : p->studies)
            result.insert(result.end(), s->series.begin(), s->series.end());
    return result;
}

inline int imageCount(const std::vector<Dicom::Patient*>& patients)
{
    int n = 0;
    for (const Dicom::Series* s : allSeries(patients))
        n += int(s->images.size());
    return n;
}

inline Dicom::Study* findStudy(const std::vector<Dicom::Patient*>& patients, const QString& uid)
{
    for (Dicom::Patient* p : patients)
        for (Dicom::Study* s : p->studies)
            if (s->studyInstanceUid == uid)
                return s;
    return nullptr;
}

}  // namespace Dravelin::Test
