#pragma once

#include <unordered_map>
#include <vector>

namespace Dravelin::Dicom {

class Patient;
class Study;
class Series;
class Image;

// Folds an incoming patient tree into a list of patients: same patient by PatientID and
// PatientName, same study by StudyInstanceUID, same series by SeriesInstanceUID; images of
// a matching series are inserted in instance-number order; new series get their estimate.
// Matched records keep their values. The hooks let an item model announce the rows it
// gains (the scanner uses the plain merger).
class TreeMerger
{
public:
    TreeMerger() = default;
    TreeMerger(const TreeMerger&) = delete;
    TreeMerger& operator=(const TreeMerger&) = delete;
    // Images still waiting for finish() go with the merger (their tree may be gone already).
    virtual ~TreeMerger();

    // Takes ownership of `patient` (it is adopted or deleted), then finish().
    void merge(std::vector<Patient*>& patients, Patient* patient);
    // As merge(), but images joining an existing series wait for finish(), which inserts
    // them in blocks of adjacent rows and estimates each series once: a folder scan brings
    // a few images per tree, and a row announcement per image kept the views busy.
    void add(std::vector<Patient*>& patients, Patient* patient);
    void finish();

    // Where merging puts `image` among a series' `images` (instance-number order).
    static std::vector<Image*>::iterator insertionPoint(std::vector<Image*>& images, const Image* image);

protected:
    virtual void aboutToInsertPatient(int /*row*/) {}
    virtual void patientInserted(int /*row*/) {}
    virtual void aboutToInsertStudy(Patient* /*parent*/, int /*row*/) {}
    virtual void studyInserted(Patient* /*parent*/, int /*row*/) {}
    virtual void aboutToInsertSeries(Study* /*parent*/, int /*row*/) {}
    virtual void seriesInserted(Study* /*parent*/, int /*row*/) {}
    // Rows first..last of `parent` (adjacent in the final order).
    virtual void aboutToInsertImages(Series* /*parent*/, int /*first*/, int /*last*/) {}
    virtual void imagesInserted(Series* /*parent*/, int /*first*/, int /*last*/) {}
    // A series that existed before gained images (its estimate may have changed).
    virtual void seriesChanged(Series* /*series*/) {}

private:
    void mergeStudy(Study* existing, Study* study);
    void mergeSeries(Series* existing, Series* series);
    void insertWaiting(Series* existing, const std::vector<Image*>& arrivals);

    // Series that gained images since the last finish(), in order, each with its arrivals
    // (owned here until inserted).
    std::vector<Series*> m_changed;
    std::unordered_map<Series*, std::vector<Image*>> m_waiting;
};

}  // namespace Dravelin::Dicom
