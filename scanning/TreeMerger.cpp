#include "scanning/TreeMerger.h"

#include "scanning/Image.h"
#include "scanning/Patient.h"
#include "scanning/Series.h"
#include "scanning/Study.h"

#include <algorithm>

namespace Dravelin::Dicom {

namespace {

// Sort key of the series order: the instance number as written, 0 when it is not a number.
int instanceKey(const Image* image)
{
    return image->instanceNumberText.toInt(nullptr, 10);
}

void estimateAll(Study* study)
{
    for (Series* series : study->series)
        series->estimateDimensions();
}

// From the back: a folder scan brings the files of one series after another, so the record a
// file belongs to is most often the one added last (keys are unique in a list).
template <typename T, typename Key>
T* findByKey(const std::vector<T*>& list, Key key)
{
    const auto it = std::find_if(list.rbegin(), list.rend(), key);
    return it == list.rend() ? nullptr : *it;
}

}  // namespace

void TreeMerger::merge(std::vector<Patient*>& patients, Patient* patient)
{
    add(patients, patient);
    finish();
}

void TreeMerger::finish()
{
    // Taken first: a hook may merge again.
    const std::vector<Series*> changed = std::move(m_changed);
    m_changed.clear();
    m_changedSet.clear();
    for (Series* series : changed) {
        series->estimateDimensions();
        seriesChanged(series);
    }
}

void TreeMerger::add(std::vector<Patient*>& patients, Patient* patient)
{
    if (!patient)
        return;
    Patient* existing = findByKey(patients, [patient](const Patient* p) {
        return p->patientId == patient->patientId && p->patientName == patient->patientName;
    });
    if (!existing) {
        for (Study* study : patient->studies)
            estimateAll(study);
        const int row = static_cast<int>(patients.size());
        aboutToInsertPatient(row);
        patients.push_back(patient);
        patientInserted(row);
        return;
    }

    for (Study* study : patient->studies) {
        Study* existingStudy = findByKey(
            existing->studies, [study](const Study* s) { return s->studyInstanceUid == study->studyInstanceUid; });
        if (!existingStudy) {
            study->patient = existing;
            estimateAll(study);
            const int row = static_cast<int>(existing->studies.size());
            aboutToInsertStudy(existing, row);
            existing->studies.push_back(study);
            studyInserted(existing, row);
            continue;
        }
        mergeStudy(existingStudy, study);
    }
    patient->studies.clear();
    delete patient;
}

void TreeMerger::mergeStudy(Study* existing, Study* study)
{
    for (Series* series : study->series) {
        Series* existingSeries = findByKey(
            existing->series, [series](const Series* s) { return s->seriesInstanceUid == series->seriesInstanceUid; });
        if (!existingSeries) {
            series->study = existing;
            series->estimateDimensions();
            const int row = static_cast<int>(existing->series.size());
            aboutToInsertSeries(existing, row);
            existing->series.push_back(series);
            seriesInserted(existing, row);
            continue;
        }
        mergeSeries(existingSeries, series);
    }
    study->series.clear();
    // The incoming study goes with its placeholder: the existing study keeps its own.
    delete study;
}

std::vector<Image*>::iterator TreeMerger::insertionPoint(std::vector<Image*>& images, const Image* image)
{
    const int key = instanceKey(image);
    // Equal numbers: the later file of a folder scan goes first, as merging the files one by
    // one in their order puts it. Images from elsewhere go before their equals.
    const auto before = [key, image](const Image* i) {
        const int k = instanceKey(i);
        return k < key || (k == key && image->scanOrder != 0 && i->scanOrder > image->scanOrder);
    };
    return std::partition_point(images.begin(), images.end(), before);
}

void TreeMerger::mergeSeries(Series* existing, Series* series)
{
    for (Image* image : series->images) {
        image->series = existing;
        const auto position = insertionPoint(existing->images, image);
        const int row = static_cast<int>(position - existing->images.begin());
        aboutToInsertImage(existing, row);
        existing->insertImage(position, image);
        imageInserted(existing, row);
    }
    if (!series->images.empty() && m_changedSet.insert(existing).second)
        m_changed.push_back(existing);
    series->images.clear();
    delete series;
}

}  // namespace Dravelin::Dicom
