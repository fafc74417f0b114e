#include "host/dicom/WindowPresets.h"

#include "host/data/SharedImageSet.h"
#include "host/dicom/components/TagStoreDataComponent.h"

#include <QCoreApplication>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>

#include <algorithm>
#include <cmath>

namespace Dravelin {

const std::vector<WindowPresets::Preset>& WindowPresets::ct()
{
    static const std::vector<Preset> presets = {
        {QCoreApplication::translate("WindowPresets", "Brain"), 80, 40},
        {QCoreApplication::translate("WindowPresets", "Subdural"), 200, 75},
        {QCoreApplication::translate("WindowPresets", "Stroke"), 40, 40},
        {QCoreApplication::translate("WindowPresets", "Lung"), 1500, -600},
        {QCoreApplication::translate("WindowPresets", "Mediastinum"), 350, 50},
        {QCoreApplication::translate("WindowPresets", "Abdomen"), 400, 50},
        {QCoreApplication::translate("WindowPresets", "Liver"), 150, 30},
        {QCoreApplication::translate("WindowPresets", "Bone"), 1800, 400},
    };
    return presets;
}

std::vector<WindowPresets::Preset> WindowPresets::stored(const SharedImageSet& set)
{
    std::vector<Preset> found;
    const auto* tags = set.getComponent<Dicom::TagStoreDataComponent>();
    const auto datasets = tags ? tags->extractDatasets() : std::vector<std::shared_ptr<DcmDataset>>();
    if (!datasets.empty() && datasets.front()) {
        DcmDataset& first = *datasets.front();
        for (unsigned long i = 0;; ++i) {
            Float64 center = 0, width = 0;
            if (first.findAndGetFloat64(DCM_WindowCenter, center, i).bad() ||
                first.findAndGetFloat64(DCM_WindowWidth, width, i).bad())
                break;
            if (!(width > 0) || !std::isfinite(center))
                continue;
            OFString explanation;
            first.findAndGetOFString(DCM_WindowCenterWidthExplanation, explanation, i);
            const QString name = explanation.empty()
                                     ? QCoreApplication::translate("WindowPresets", "DICOM window %1").arg(i + 1)
                                     : QString::fromLatin1(explanation.c_str()).trimmed();
            found.push_back({name, width, center});
        }
    }
    if (found.empty() && set.hasWindow())
        found.push_back(
            {QCoreApplication::translate("WindowPresets", "DICOM window"), set.windowWidth(), set.windowCenter()});
    return found;
}

std::optional<WindowPresets::Preset> WindowPresets::automatic(const SharedImage& image)
{
    const long long voxels = static_cast<long long>(image.voxelCount());
    if (voxels <= 0 || image.channels() != 1)
        return std::nullopt;
    // About a quarter million samples are plenty for two percentiles.
    const long long step = std::max(1LL, voxels / (1LL << 18));
    std::vector<double> values;
    values.reserve(static_cast<std::size_t>(voxels / step + 1));
    for (long long i = 0; i < voxels; i += step) {
        const int x = static_cast<int>(i % image.width());
        const int y = static_cast<int>(i / image.width() % image.height());
        const int z = static_cast<int>(i / image.width() / image.height());
        const double value = image.realValue(x, y, z);
        if (std::isfinite(value))
            values.push_back(value);
    }
    if (values.empty())
        return std::nullopt;
    auto at = [&values](double fraction) {
        auto n = values.begin() + static_cast<std::ptrdiff_t>(fraction * double(values.size() - 1));
        std::nth_element(values.begin(), n, values.end());
        return *n;
    };
    const double low = at(0.01), high = at(0.99);
    return Preset{QCoreApplication::translate("WindowPresets", "Automatic"), std::max(1.0, high - low),
                  (low + high) / 2.0};
}

}  // namespace Dravelin
