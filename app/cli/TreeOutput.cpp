#include "app/cli/TreeOutput.h"

#include "app/cli/JsonWriter.h"
#include "app/cli/ModelTextPrinter.h"
#include "browser/models/DicomBrowserFilterModel.h"
#include "browser/models/DicomBrowserModel.h"
#include "scanning/DimensionsText.h"
#include "scanning/Image.h"
#include "scanning/Patient.h"
#include "scanning/Scanner.h"
#include "scanning/Series.h"
#include "scanning/Study.h"

#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

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

// A number stored as text ("512", "2.5"); null when the text holds none (empty, "?").
void numberOrNull(JsonWriter& json, const QString& text)
{
    if (const std::optional<int> whole = numberInText(text)) {
        json.value(*whole);
        return;
    }
    bool ok = false;
    const double real = text.trimmed().toDouble(&ok);
    if (ok)
        json.value(real);
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
    numberOrNull(json.key("width"), i.width);
    numberOrNull(json.key("height"), i.height);
    numberOrNull(json.key("channels"), i.channels);
    numberOrNull(json.key("bitsAllocated"), i.bitsAllocated);
    numberOrNull(json.key("numberOfFrames"), i.numberOfFrames);
    numberOrNull(json.key("sliceThickness"), i.sliceThickness);
    json.key("protocolName").value(i.protocolName);
    json.key("bodyPartExamined").value(i.bodyPartExamined);
    json.key("manufacturer").value(i.manufacturer);
    json.key("manufacturerModelName").value(i.manufacturerModelName);
    json.key("location").value(std::string_view(i.location.string()));
    numbers(json.key("imagePosition"), i.imagePosition);
    numbers(json.key("imageOrientation"), i.imageOrientation);
    numbers(json.key("pixelSpacing"), i.pixelSpacing);
    optionalValue(json.key("spacingBetweenSlices"), i.spacingBetweenSlices);
    optionalValue(json.key("instanceNumber"), i.instanceNumber);
    optionalValue(json.key("acquisitionNumber"), i.acquisitionNumber);
    json.endObject();
}

// The images arrays of the shown series, written ahead by several threads a window of series
// at a time (one parallel region per window: threads that wait between small regions spin),
// then handed to the document writer in order. The text is that of writeImage on one thread.
class ImagesAhead
{
public:
    // Where images arrays open in printJson's document: root, patients, patient, studies,
    // study, series, series row, images.
    static constexpr int kDepth = 8;
    // About what writeImage writes for an image of a folder scan: its buffer grows once.
    static constexpr std::size_t kBytesPerImage = 1536;

    ImagesAhead(std::vector<const Series*> series, int threads) : m_series(std::move(series)), m_threads(threads)
    {
        m_texts.resize(m_series.size());
    }

    // The entries of series `i`'s images array, in parts for JsonWriter::entries().
    std::vector<std::string> take(std::size_t i)
    {
        if (i >= m_ready)
            writeWindow(i);
        return std::move(m_texts[i]);
    }

private:
    struct Unit
    {
        std::size_t series, begin, end;
    };

    void writeWindow(std::size_t from)
    {
        constexpr std::size_t windowImages = 4096, unitImages = 256;
        std::vector<Unit> units;
        std::size_t images = 0;
        std::size_t end = from;
        while (end < m_series.size() && (end == from || images < windowImages)) {
            const std::size_t n = m_series[end]->images.size();
            for (std::size_t b = 0; b < n; b += unitImages)
                units.push_back({end, b, std::min(n, b + unitImages)});
            images += n;
            ++end;
        }
        std::vector<std::string> texts(units.size());
        std::vector<char> done(units.size(), 0);
        const auto write = [&](std::size_t u) {
            JsonWriter writer(JsonWriter::Entries{kDepth});
            writer.reserve((units[u].end - units[u].begin) * kBytesPerImage);
            for (std::size_t k = units[u].begin; k < units[u].end; ++k)
                writeImage(writer, *m_series[units[u].series]->images[k]);
            texts[u] = writer.takeText();
            done[u] = 1;
        };
#pragma omp parallel for num_threads(m_threads) schedule(dynamic, 1) if (units.size() > 1)
        for (std::size_t u = 0; u < units.size(); ++u) {
            try {
                write(u);
            } catch (...) {  // out of memory: the calling thread tries again below
            }
        }
        for (std::size_t u = 0; u < units.size(); ++u) {
            if (!done[u])
                write(u);
            m_texts[units[u].series].push_back(std::move(texts[u]));
        }
        m_ready = end;
    }

    std::vector<const Series*> m_series;
    int m_threads;
    std::vector<std::vector<std::string>> m_texts;
    std::size_t m_ready = 0;
};

void writeSeries(JsonWriter& json, const Series& s, bool withImages, ImagesAhead* ahead, std::size_t index)
{
    json.beginObject();
    json.key("seriesInstanceUid").value(s.seriesInstanceUid);
    json.key("sopClassUid").value(s.sopClassUid);
    json.key("seriesTime").value(timeText(s.seriesTime));
    json.key("seriesDate").value(dateText(s.seriesDate));
    numberOrNull(json.key("seriesNumber"), s.seriesNumber);
    json.key("seriesDescription").value(s.seriesDescription);
    json.key("imageType").value(s.imageType);
    json.key("modality").value(s.modality);
    json.key("dimensions").beginArray();
    for (const DimensionsInfo& d : s.dimensions)
        json.value(dimensionsText(d));
    json.endArray();
    json.key("estimatedDimensions").value(dimensionsText(s.estimatedDimensions));
    json.key("images").beginArray();
    if (withImages && ahead && json.depth() == ImagesAhead::kDepth) {
        for (const std::string& part : ahead->take(index))
            json.entries(part);
    } else if (withImages) {
        for (const Image* i : s.images)
            writeImage(json, *i);
    }
    json.endArray();
    json.endObject();
}

void writeStudyFields(JsonWriter& json, const Study& s)
{
    json.key("studyInstanceUid").value(s.studyInstanceUid);
    json.key("studyId").value(s.studyId);
    json.key("studyTime").value(timeText(s.studyTime));
    json.key("studyDate").value(dateText(s.studyDate));
    json.key("studyDescription").value(s.studyDescription);
}

void writePatientFields(JsonWriter& json, const Patient& p)
{
    json.key("patientId").value(p.patientId);
    json.key("patientName").value(p.patientName);
    json.key("sex").value(p.sex);
    json.key("birthDate").value(dateText(p.birthDate));
    json.key("comment").value(p.comment);
}

template <typename T>
T* record(const QModelIndex& index, int role)
{
    return index.data(role).value<T*>();
}

QString plural(int n, const char* one, const char* many)
{
    return QString::number(n) + ' ' + (n == 1 ? one : many);
}

}  // namespace

std::vector<ShownSeries> shownSeries(const QAbstractItemModel& view)
{
    std::vector<ShownSeries> shown;
    for (int p = 0; p < view.rowCount(); ++p) {
        const QModelIndex patientIndex = view.index(p, 0);
        const Patient* patient = record<Patient>(patientIndex, DicomBrowserModel::PatientRole);
        for (int s = 0; patient && s < view.rowCount(patientIndex); ++s) {
            const QModelIndex studyIndex = view.index(s, 0, patientIndex);
            const Study* study = record<Study>(studyIndex, DicomBrowserModel::StudyRole);
            for (int r = 0; study && r < view.rowCount(studyIndex); ++r) {
                const QModelIndex index = view.index(r, 0, studyIndex);
                if (Series* series = record<Series>(index, DicomBrowserModel::SeriesRole))
                    shown.push_back({patient, study, series, index});
            }
        }
    }
    return shown;
}

ShownCounts countShown(const QAbstractItemModel& view)
{
    ShownCounts c;
    c.patients = view.rowCount();
    for (int p = 0; p < c.patients; ++p)
        c.studies += view.rowCount(view.index(p, 0));
    for (const ShownSeries& shown : shownSeries(view)) {
        ++c.series;
        c.images += int(shown.series->images.size());
    }
    return c;
}

QString summaryLine(const ShownCounts& c, const QString& what, double seconds)
{
    return QString("%1, %2, %3, %4, %5, %6 seconds")
        .arg(plural(c.patients, "patient", "patients"), plural(c.studies, "study", "studies"),
             plural(c.series, "series", "series"), plural(c.images, "image", "images"), what)
        .arg(seconds, 0, 'f', 3);
}

void printJson(const QAbstractItemModel& view, bool withImages, int threads)
{
    std::optional<ImagesAhead> ahead;
    if (withImages && threads > 1) {
        std::vector<const Series*> series;
        for (const ShownSeries& row : shownSeries(view))
            series.push_back(row.series);
        ahead.emplace(std::move(series), threads);
    }
    std::size_t index = 0;  // of the series in display order
    JsonWriter json(stdout);
    json.beginObject();
    json.key("patients").beginArray();
    for (int p = 0; p < view.rowCount(); ++p) {
        const QModelIndex patientIndex = view.index(p, 0);
        const Patient* patient = record<Patient>(patientIndex, DicomBrowserModel::PatientRole);
        if (!patient)
            continue;
        json.beginObject();
        writePatientFields(json, *patient);
        json.key("studies").beginArray();
        for (int s = 0; s < view.rowCount(patientIndex); ++s) {
            const QModelIndex studyIndex = view.index(s, 0, patientIndex);
            const Study* study = record<Study>(studyIndex, DicomBrowserModel::StudyRole);
            if (!study)
                continue;
            json.beginObject();
            writeStudyFields(json, *study);
            json.key("series").beginArray();
            for (int r = 0; r < view.rowCount(studyIndex); ++r)
                if (const Series* series = record<Series>(view.index(r, 0, studyIndex), DicomBrowserModel::SeriesRole))
                    writeSeries(json, *series, withImages, ahead ? &*ahead : nullptr, index++);
            json.endArray();
            json.endObject();
        }
        json.endArray();
        json.endObject();
    }
    json.endArray();
    json.endObject();
}

void sortLikeTheBrowser(DicomBrowserFilterModel& view, DicomBrowserModel& model)
{
    view.setSourceModel(&model);
    view.setSortRole(DicomBrowserModel::SortRole);
    view.sort(0);
}

void printTreeOutput(Scanner& scanner, bool json, bool withImages, const QString& what, double seconds)
{
    // Through the browser's models, so that the order (and the text) is the one a folder scan
    // of the same files shows.
    DicomBrowserModel model(scanner.datasetCache());
    for (auto& patient : scanner.takePatients())
        model.addPatient(patient.release());
    DicomBrowserFilterModel view;
    sortLikeTheBrowser(view, model);
    const QString summary = summaryLine(countShown(view), what, seconds);
    if (json) {
        printJson(view, withImages);
        std::fprintf(stderr, "%s\n", summary.toUtf8().constData());
    } else {
        QTextStream out(stdout);
        printModel(out, view, withImages);
        out << summary << '\n';
    }
    std::fflush(stdout);
}

}  // namespace Dravelin::Cli
