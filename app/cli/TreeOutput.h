#pragma once

#include <QModelIndex>
#include <QString>

#include <vector>

class QAbstractItemModel;

namespace Dravelin {
class DicomBrowserFilterModel;
class DicomBrowserModel;
}  // namespace Dravelin
namespace Dravelin::Dicom {
class Patient;
class Scanner;
class Series;
class Study;
}  // namespace Dravelin::Dicom

// Output shared by the commands that scan (folders, DICOMDIR files, PACS and DICOMweb servers).
// Each works on a view: the browser model, or the filter model over it, whose rows are the
// patients, their studies and their series as the browser shows them.
namespace Dravelin::Cli {

// A series row of a view, with its patient and study.
struct ShownSeries
{
    const Dicom::Patient* patient;
    const Dicom::Study* study;
    Dicom::Series* series;
    QModelIndex index;
};
// The series rows of the view, in display order.
std::vector<ShownSeries> shownSeries(const QAbstractItemModel& view);

struct ShownCounts
{
    int patients = 0, studies = 0, series = 0, images = 0;
};
ShownCounts countShown(const QAbstractItemModel& view);

// "1 patient, 2 studies, 3 series, 40 images, <what>, T seconds".
QString summaryLine(const ShownCounts& counts, const QString& what, double seconds);

// {"patients":[...]} on stdout: the shown records in the view's order, keys named after the
// record fields, numbers as numbers, dates yyyy-MM-dd, times HH:mm:ss.zzz, empty text for null
// dates and times, null for absent numbers. Every image of a shown series unless !withImages;
// the images of large series are written by up to `threads` threads.
void printJson(const QAbstractItemModel& view, bool withImages, int threads = 1);

// The filter model over `model`, in the browser's order.
void sortLikeTheBrowser(DicomBrowserFilterModel& view, DicomBrowserModel& model);

// For the server searches: hands the scanner's patients to a browser model and prints its
// sorted view, as JSON (summary on stderr) or as the browser's tree (summary last).
void printTreeOutput(Dicom::Scanner& scanner, bool json, bool withImages, const QString& what, double seconds);

}  // namespace Dravelin::Cli
