#include "app/cli/TreeOutput.h"

#include "app/cli/JsonWriter.h"
#include "app/cli/ModelTextPrinter.h"
#include "browser/models/DicomBrowserModel.h"
#include "scanning/DimensionsText.h"
#include "scanning/Image.h"
#include "scanning/Patient.h"
#include "scanning/Scanner.h"
#include "scanning/Series.h"
#include "scanning/Study.h"

#include <QTextStream>

#include <cstdio>
#include <optional>

namespace Dravelin::Cli {

using namespace Dravelin::Dicom;

namespace {

QString dateText(const QDate& d)
{
    return d.isValid() ? d.toString("yyyy-MM-dd") : QString();
}

QString timeText(const QTime& t)
{
    return t.isValid() ? t.toString("HH:mm:ss.zzz") : QString();
}

template <typename T>
void optionalValue(JsonWriter& json, const std::optional<T>& v)
{
    if (v)
        json.value(*v);
    else
        json.null();
}

template <typename Array>
void numbers(JsonWriter& json, const Array& values)
{
    json.beginArray();
    for (double v : values)
        json.value(v);
    json.endArray();
}

void writeImage(JsonWriter& json, const Image& i)
{
    json.beginObject();
    json.key("sopInstanceUid").value(i.sopInstanceUid);
    json.key("instanceNumberText").value(i.instanceNumberText);
    json.key("imageType").value(i.imageType);
    json.key("width").value(i.width);
    json.key("height").value(i.height);
    json.key("channels").value(i.channels);
    json.key("bitsAllocated").value(i.bitsAllocated);
    json.key("numberOfFrames").value(i.numberOfFrames);
    json.key("sliceThickness").value(i.sliceThickness);
    json.key("protocolName").value(i.protocolName);
    json.key("bodyPartExamined").value(i.bodyPartExamined);
    json.key("manufacturer").value(i.manufacturer);
    json.key("manufacturerModelName").value(i.manufacturerModelName);
    json.key("location").value(QString::fromStdString(i.location.string()));
    numbers(json.key("imagePosition"), i.imagePosition);
    numbers(json.key("imageOrientation"), i.imageOrientation);
    numbers(json.key("pixelSpacing"), i.pixelSpacing);
    optionalValue(json.key("spacingBetweenSlices"), i.spacingBetweenSlices);
    optionalValue(json.key("instanceNumber"), i.instanceNumber);
    optionalValue(json.key("acquisitionNumber"), i.acquisitionNumber);
    json.endObject();
}

void writeSeries(JsonWriter& json, const Series& s)
{
    json.beginObject();
    json.key("seriesInstanceUid").value(s.seriesInstanceUid);
    json.key("sopClassUid").value(s.sopClassUid);
    json.key("seriesTime").value(timeText(s.seriesTime));
    json.key("seriesDate").value(dateText(s.seriesDate));
    json.key("seriesNumber").value(s.seriesNumber);
    json.key("seriesDescription").value(s.seriesDescription);
    json.key("imageType").value(s.imageType);
    json.key("modality").value(s.modality);
    json.key("dimensions").beginArray();
    for (const DimensionsInfo& d : s.dimensions)
        json.value(dimensionsText(d));
    json.endArray();
    json.key("estimatedDimensions").value(dimensionsText(s.estimatedDimensions));
    json.key("images").beginArray();
    for (const Image* i : s.images)
        writeImage(json, *i);
    json.endArray();
    json.endObject();
}

void writeStudy(JsonWriter& json, const Study& s)
{
    json.beginObject();
    json.key("studyInstanceUid").value(s.studyInstanceUid);
    json.key("studyId").value(s.studyId);
    json.key("studyTime").value(timeText(s.studyTime));
    json.key("studyDate").value(dateText(s.studyDate));
    json.key("studyDescription").value(s.studyDescription);
    json.key("series").beginArray();
    for (const Series* r : s.series)
        writeSeries(json, *r);
    json.endArray();
    json.endObject();
}

}  // namespace

void writePatientJson(JsonWriter& json, const Patient& p)
{
    json.beginObject();
    json.key("patientId").value(p.patientId);
    json.key("patientName").value(p.patientName);
    json.key("sex").value(p.sex);
    json.key("birthDate").value(dateText(p.birthDate));
    json.key("comment").value(p.comment);
    json.key("studies").beginArray();
    for (const Study* s : p.studies)
        writeStudy(json, *s);
    json.endArray();
    json.endObject();
}

namespace {

struct Counts
{
    size_t patients = 0, studies = 0, series = 0, images = 0;
};

Counts count(const std::vector<Patient*>& patients)
{
    Counts c;
    c.patients = patients.size();
    for (const Patient* p : patients) {
        c.studies += p->studies.size();
        for (const Study* s : p->studies) {
            c.series += s->series.size();
            for (const Series* r : s->series)
                c.images += r->images.size();
        }
    }
    return c;
}

}  // namespace

QString summaryLine(const std::vector<Patient*>& patients, const QString& what, double seconds)
{
    const Counts c = count(patients);
    return QString("%1 patients, %2 studies, %3 series, %4 images, %5, %6 seconds")
        .arg(c.patients)
        .arg(c.studies)
        .arg(c.series)
        .arg(c.images)
        .arg(what)
        .arg(seconds, 0, 'f', 3);
}

void printJsonTree(const std::vector<Patient*>& patients, const QString& summary)
{
    {
        JsonWriter json(stdout);
        json.beginObject();
        json.key("patients").beginArray();
        for (const Patient* p : patients)
            writePatientJson(json, *p);
        json.endArray();
        json.endObject();
    }
    std::fprintf(stderr, "%s\n", summary.toUtf8().constData());
}

void printTreeOutput(Scanner& scanner, bool json, bool withImages, const QString& summary)
{
    if (json) {
        printJsonTree(scanner.patients(), summary);
    } else {
        // The browser's own model renders the text, so both always agree.
        DicomBrowserModel model(scanner.datasetCache());
        for (auto& patient : scanner.takePatients())
            model.addPatient(patient.release());
        QTextStream out(stdout);
        printModel(out, model, withImages);
        out << summary << '\n';
    }
    std::fflush(stdout);
}

}  // namespace Dravelin::Cli
