#include "app/cli/TreeOutput.h"

#include "app/cli/ModelTextPrinter.h"
#include "browser/models/DicomBrowserModel.h"
#include "scanning/DimensionsText.h"
#include "scanning/Image.h"
#include "scanning/Patient.h"
#include "scanning/Scanner.h"
#include "scanning/Series.h"
#include "scanning/Study.h"

#include <QJsonArray>
#include <QJsonDocument>
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
QJsonValue optionalValue(const std::optional<T>& v)
{
    return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null);
}

template <typename Array>
QJsonArray numbers(const Array& values)
{
    QJsonArray result;
    for (double v : values)
        result.append(v);
    return result;
}

QJsonObject imageJson(const Image& i)
{
    return QJsonObject{{"sopInstanceUid", i.sopInstanceUid},
                       {"instanceNumberText", i.instanceNumberText},
                       {"imageType", i.imageType},
                       {"width", i.width},
                       {"height", i.height},
                       {"channels", i.channels},
                       {"bitsAllocated", i.bitsAllocated},
                       {"numberOfFrames", i.numberOfFrames},
                       {"sliceThickness", i.sliceThickness},
                       {"protocolName", i.protocolName},
                       {"bodyPartExamined", i.bodyPartExamined},
                       {"manufacturer", i.manufacturer},
                       {"manufacturerModelName", i.manufacturerModelName},
                       {"location", QString::fromStdString(i.location.string())},
                       {"imagePosition", numbers(i.imagePosition)},
                       {"imageOrientation", numbers(i.imageOrientation)},
                       {"pixelSpacing", numbers(i.pixelSpacing)},
                       {"spacingBetweenSlices", optionalValue(i.spacingBetweenSlices)},
                       {"instanceNumber", optionalValue(i.instanceNumber)},
                       {"acquisitionNumber", optionalValue(i.acquisitionNumber)}};
}

QJsonObject seriesJson(const Series& s)
{
    QJsonArray images;
    for (const Image* i : s.images)
        images.append(imageJson(*i));
    QJsonArray dimensions;
    for (const DimensionsInfo& d : s.dimensions)
        dimensions.append(dimensionsText(d));
    return QJsonObject{{"seriesInstanceUid", s.seriesInstanceUid},
                       {"sopClassUid", s.sopClassUid},
                       {"seriesTime", timeText(s.seriesTime)},
                       {"seriesDate", dateText(s.seriesDate)},
                       {"seriesNumber", s.seriesNumber},
                       {"seriesDescription", s.seriesDescription},
                       {"imageType", s.imageType},
                       {"modality", s.modality},
                       {"dimensions", dimensions},
                       {"estimatedDimensions", dimensionsText(s.estimatedDimensions)},
                       {"images", images}};
}

QJsonObject studyJson(const Study& s)
{
    QJsonArray series;
    for (const Series* r : s.series)
        series.append(seriesJson(*r));
    return QJsonObject{{"studyInstanceUid", s.studyInstanceUid}, {"studyId", s.studyId},
                       {"studyTime", timeText(s.studyTime)},     {"studyDate", dateText(s.studyDate)},
                       {"studyDescription", s.studyDescription}, {"series", series}};
}

}  // namespace

QJsonObject patientJson(const Patient& p)
{
    QJsonArray studies;
    for (const Study* s : p.studies)
        studies.append(studyJson(*s));
    return QJsonObject{{"patientId", p.patientId},           {"patientName", p.patientName}, {"sex", p.sex},
                       {"birthDate", dateText(p.birthDate)}, {"comment", p.comment},         {"studies", studies}};
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

void printTreeOutput(Scanner& scanner, bool json, bool withImages, const QString& summary)
{
    if (json) {
        QJsonArray list;
        for (const Patient* p : scanner.patients())
            list.append(patientJson(*p));
        const QByteArray text = QJsonDocument(QJsonObject{{"patients", list}}).toJson(QJsonDocument::Indented);
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
        std::fprintf(stderr, "%s\n", summary.toUtf8().constData());
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
