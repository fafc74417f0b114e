#pragma once

#include <unordered_set>
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
    virtual ~TreeMerger() = default;

    // Takes ownership of `patient` (it is adopted or deleted), then finish().
    void merge(std::vector<Patient*>& patients, Patient* patient);
    // As merge(), but the series that gained images are estimated and announced only by
    // finish(): a folder scan brings one image per tree, and estimating after each of them
    // made merging a series of n images cost n^2.
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
    virtual void aboutToInsertImage(Series* /*parent*/, int /*row*/) {}
    virtual void imageInserted(Series* /*parent*/, int /*row*/) {}
    // A series that existed before gained images (its estimate may have changed).
    virtual void seriesChanged(Series* /*series*/) {}

private:
    void mergeStudy(Study* existing, Study* study);
    void mergeSeries(Series* existing, Series* series);

    std::vector<Series*> m_changed;  // gained images since the last finish(), each once
    std::unordered_set<Series*> m_changedSet;
};

}  // namespace Dravelin::Dicom
