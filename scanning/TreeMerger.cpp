#include "scanning/TreeMerger.h"

#include "scanning/Image.h"
#include "scanning/Patient.h"
#include "scanning/Series.h"
#include "scanning/Study.h"

#include <algorithm>
#include <unordered_set>

namespace Dravelin::Dicom {

namespace {

// Sort key of the series order: the instance number as written, 0 when it is not a number
// (the image read it from its text once; parsing again in every comparison of a binary search
// was a tenth of a folder scan's merging).
int instanceKey(const Image* image)
{
    return image->instanceNumber.value_or(0);
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

TreeMerger::~TreeMerger()
{
    for (auto& waiting : m_waiting)
        for (Image* image : waiting.second)
            delete image;
}

void TreeMerger::merge(std::vector<Patient*>& patients, Patient* patient)
{
    add(patients, patient);
    finish();
}

void TreeMerger::finish()
{
    // Taken first: a hook may merge again.
    const std::vector<Series*> changed = std::move(m_changed);
    auto waiting = std::move(m_waiting);
    m_changed.clear();
    m_waiting.clear();
    for (Series* series : changed) {
        std::vector<Image*>& arrivals = waiting[series];
        insertWaiting(series, arrivals);
        arrivals.clear();
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
    if (!series->images.empty()) {
        auto [waiting, added] = m_waiting.try_emplace(existing);
        if (added)
            m_changed.push_back(existing);
        for (Image* image : series->images) {
            image->series = existing;
            waiting->second.push_back(image);
        }
    }
    series->images.clear();
    delete series;
}

void TreeMerger::insertWaiting(Series* existing, const std::vector<Image*>& arrivals)
{
    if (arrivals.empty())
        return;
    // The final order is the one inserting the arrivals one by one gives; the new images
    // then go in as runs of adjacent rows, front to back, so that each run's rows are final.
    std::vector<Image*> order = existing->images;
    order.reserve(order.size() + arrivals.size());
    for (Image* image : arrivals)
        order.insert(insertionPoint(order, image), image);
    std::unordered_set<const Image*> fresh(arrivals.begin(), arrivals.end());
    // The secondary orders take them in arrival order, as one-by-one insertion does.
    existing->fileIntoOrders(arrivals);
    for (std::size_t first = 0; first < order.size();) {
        if (!fresh.count(order[first])) {
            ++first;
            continue;
        }
        std::size_t end = first + 1;
        while (end < order.size() && fresh.count(order[end]))
            ++end;
        const int firstRow = static_cast<int>(first);
        const int lastRow = static_cast<int>(end - 1);
        aboutToInsertImages(existing, firstRow, lastRow);
        existing->images.insert(existing->images.begin() + first, order.begin() + first, order.begin() + end);
        imagesInserted(existing, firstRow, lastRow);
        first = end;
    }
}

}  // namespace Dravelin::Dicom
