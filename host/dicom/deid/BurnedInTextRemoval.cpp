#include "host/dicom/deid/BurnedInTextRemoval.h"

#include "host/core/Log.h"
#include "host/dicom/deid/BurnedInTextDetector.h"
#include "host/dicom/deid/PixelCleaningRules.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmimgle/dcmimage.h>

#include <QStringList>

#include <algorithm>
#include <exception>

namespace Dravelin::Dicom {

namespace {

constexpr int kSampledFrames = 5;

QString text(DcmItem& dataset, const DcmTagKey& tag)
{
    OFString value;
    dataset.findAndGetOFStringArray(tag, value);
    return QString::fromLatin1(value.c_str()).trimmed().toUpper();
}

// The frame as 8-bit grey, with the image's own window (or its full range) applied.
bool greyFrame(DcmDataset& dataset, long frame, std::vector<uint8_t>& grey, int& width, int& height, std::string* error)
{
    DicomImage image(&dataset, dataset.getCurrentXfer(), 0UL, static_cast<unsigned long>(frame), 1UL);
    if (image.getStatus() != EIS_Normal) {
        *error =
            "frame " + std::to_string(frame) + " cannot be rendered (" + DicomImage::getString(image.getStatus()) + ")";
        return false;
    }
    width = static_cast<int>(image.getWidth());
    height = static_cast<int>(image.getHeight());
    const size_t pixels = static_cast<size_t>(width) * height;
    if (image.isMonochrome()) {
        if (image.getWindowCount() == 0 || !image.setWindow(0))
            image.setMinMaxWindow();
        const auto* data = static_cast<const uint8_t*>(image.getOutputData(8, 0));
        if (!data) {
            *error = "frame " + std::to_string(frame) + " cannot be rendered";
            return false;
        }
        grey.assign(data, data + pixels);
        return true;
    }
    const auto* rgb = static_cast<const uint8_t*>(image.getOutputData(8, 0, 0));
    if (!rgb) {
        *error = "frame " + std::to_string(frame) + " cannot be rendered";
        return false;
    }
    grey.resize(pixels);
    for (size_t i = 0; i < pixels; ++i)
        grey[i] = static_cast<uint8_t>((299 * rgb[3 * i] + 587 * rgb[3 * i + 1] + 114 * rgb[3 * i + 2]) / 1000);
    return true;
}

bool detectFrame(DcmDataset& dataset, long frame, std::vector<QRect>& boxes, std::string* error)
{
    std::vector<uint8_t> grey;
    int width = 0, height = 0;
    if (!greyFrame(dataset, frame, grey, width, height, error))
        return false;
    return BurnedInTextDetector::detect(grey.data(), width, height, width, boxes, error);
}

// The text moved when most boxes of the samples overlap no box of any other sample. Boxes that
// recur are the overlay; a few that do not are noise or a changing digit, covered by the union.
bool textMoved(const std::vector<std::vector<QRect>>& samples)
{
    int recurring = 0, alone = 0;
    for (size_t i = 0; i < samples.size(); ++i)
        for (const QRect& box : samples[i]) {
            bool found = false;
            for (size_t j = 0; j < samples.size() && !found; ++j)
                found = j != i && std::any_of(samples[j].begin(), samples[j].end(),
                                              [&](const QRect& other) { return other.intersects(box); });
            (found ? recurring : alone) += 1;
        }
    return alone > recurring;
}

}  // namespace

BurnedInTextRemoval::BurnedInTextRemoval(std::shared_ptr<const PixelCleaningRules> rules, bool detect, Scope scope)
    : m_rules(std::move(rules)), m_detect(detect), m_scope(scope)
{
}

bool BurnedInTextRemoval::mayHoldText(DcmItem& dataset, Scope scope)
{
    const QString marked = text(dataset, DCM_BurnedInAnnotation);
    if (marked == QLatin1String("YES"))
        return true;
    if (scope == Scope::Marked || !marked.isEmpty())
        return false;
    const QString modality = text(dataset, DCM_Modality);
    static const QStringList carryText{"US", "SC", "OT", "XA", "ES", "XC"};
    if (carryText.contains(modality))
        return true;
    return (modality == QLatin1String("DX") || modality == QLatin1String("CR")) &&
           (text(dataset, DCM_ImageType).contains(QLatin1String("SECONDARY")) ||
            !text(dataset, DCM_ConversionType).isEmpty());
}

bool BurnedInTextRemoval::covers(DcmItem& header) const
{
    if (m_seriesRegions.count(text(header, DCM_SeriesInstanceUID).toStdString()))
        return true;
    if (m_detect && mayHoldText(header, m_scope))
        return true;
    return m_rules && !m_rules->regionsFor(header).empty();
}

bool BurnedInTextRemoval::detect(DcmDataset& dataset, std::vector<PixelCleaner::Region>& regions, std::string* error)
{
    OFString framesText;
    dataset.findAndGetOFString(DCM_NumberOfFrames, framesText);
    const long frames = std::max(1L, std::atol(framesText.c_str()));
    std::vector<long> sampled;
    for (int i = 0; i < kSampledFrames && i < frames; ++i)
        sampled.push_back(frames <= kSampledFrames ? i : i * (frames - 1) / (kSampledFrames - 1));
    std::vector<std::vector<QRect>> found(sampled.size());
    for (size_t i = 0; i < sampled.size(); ++i)
        if (!detectFrame(dataset, sampled[i], found[i], error))
            return false;
    const bool moved = sampled.size() > 1 && textMoved(found);
    if (!moved || frames <= kSampledFrames) {
        // Without movement, the union of the samples covers every frame; few frames are each
        // looked at anyway.
        if (moved) {
            for (size_t i = 0; i < found.size(); ++i)
                for (const QRect& box : found[i])
                    regions.push_back({static_cast<int>(sampled[i]), box});
            return true;
        }
        std::vector<QRect> all;
        for (const auto& boxes : found)
            all.insert(all.end(), boxes.begin(), boxes.end());
        for (const QRect& box : BurnedInTextDetector::merged(all))
            regions.push_back({-1, box});
        return true;
    }
    for (long frame = 0; frame < frames; ++frame) {
        std::vector<QRect> boxes;
        if (!detectFrame(dataset, frame, boxes, error))
            return false;
        for (const QRect& box : boxes)
            regions.push_back({static_cast<int>(frame), box});
    }
    return true;
}

void BurnedInTextRemoval::setSeriesRegions(std::map<std::string, std::vector<PixelCleaner::Region>> regions)
{
    m_seriesRegions = std::move(regions);
}

bool BurnedInTextRemoval::renderFrame(DcmDataset& dataset, long frame, std::vector<uint8_t>& grey, int& width,
                                      int& height, std::string* error)
{
    std::string problem;
    if (greyFrame(dataset, frame, grey, width, height, &problem))
        return true;
    if (error)
        *error = problem;
    return false;
}

bool BurnedInTextRemoval::propose(DcmDataset& dataset, std::vector<PixelCleaner::Region>& regions,
                                  std::string* error) const
{
    regions.clear();
    try {
        const auto chosen = m_seriesRegions.find(text(dataset, DCM_SeriesInstanceUID).toStdString());
        if (chosen != m_seriesRegions.end()) {
            regions = chosen->second;
            return true;
        }
        if (m_rules)
            regions = m_rules->regionsFor(dataset);
        return PixelCleaner::makeNative(dataset, error) && (!m_detect || detect(dataset, regions, error));
    } catch (const std::exception& e) {
        if (error)
            *error = e.what();
        return false;
    }
}

QString BurnedInTextRemoval::describe(const std::vector<PixelCleaner::Region>& regions)
{
    QStringList parts;
    for (const PixelCleaner::Region& region : regions)
        parts << QStringLiteral("%1%2,%3 %4x%5")
                     .arg(region.frame < 0 ? QString() : "frame " + QString::number(region.frame) + ": ")
                     .arg(region.rect.x())
                     .arg(region.rect.y())
                     .arg(region.rect.width())
                     .arg(region.rect.height());
    return parts.join(QStringLiteral("; "));
}

BurnedInTextRemoval::Outcome BurnedInTextRemoval::apply(DcmDataset& dataset, const QString& fileName) const
{
    Outcome outcome;
    try {
        const auto chosen = m_seriesRegions.find(text(dataset, DCM_SeriesInstanceUID).toStdString());
        const bool byUser = chosen != m_seriesRegions.end();
        if (byUser)
            outcome.regions = chosen->second;
        else if (m_rules)
            outcome.regions = m_rules->regionsFor(dataset);
        const bool detecting = !byUser && m_detect && mayHoldText(dataset, m_scope);
        if (outcome.regions.empty() && !detecting && !byUser)
            return outcome;
        const E_TransferSyntax source = dataset.getOriginalXfer();
        std::string error;
        const bool detected =
            PixelCleaner::makeNative(dataset, &error) && (!detecting || detect(dataset, outcome.regions, &error));
        if (!detected || !PixelCleaner::clean(dataset, outcome.regions, &error)) {
            DRAVELIN_LOG(2, "DICOM",
                         "Burned-in text not removed from " + fileName + ": " + QString::fromStdString(error));
            outcome.regions.clear();
            return outcome;
        }
        std::string note;
        outcome.xfer = PixelCleaner::writeSyntax(dataset, source, &note);
        if (!note.empty())
            DRAVELIN_LOG(2, "DICOM", fileName + ": " + QString::fromStdString(note));
        if (outcome.regions.empty() && !byUser && text(dataset, DCM_BurnedInAnnotation) == QLatin1String("YES")) {
            // The device says there is text; not finding it proves nothing.
            DRAVELIN_LOG(2, "DICOM", "No burned-in text found in " + fileName + ", which says it has some");
            return outcome;
        }
        outcome.cleaned = dataset.putAndInsertString(DCM_BurnedInAnnotation, "NO").good();
        DRAVELIN_LOG(2, "DICOM",
                     QStringLiteral("Burned-in text removed from %1: %2 box(es)%3")
                         .arg(fileName)
                         .arg(outcome.regions.size())
                         .arg(outcome.regions.empty() ? QString() : ": " + describe(outcome.regions)));
    } catch (const std::exception& e) {
        DRAVELIN_LOG(4, "DICOM", "Burned-in text not removed from " + fileName + ": " + e.what());
        outcome = Outcome();
    }
    return outcome;
}

}  // namespace Dravelin::Dicom
