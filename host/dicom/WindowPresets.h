#pragma once

#include <QString>

#include <optional>
#include <vector>

namespace Dravelin {

class SharedImage;
class SharedImageSet;

// Window/level presets offered in a slice view's menu: the usual CT windows in Hounsfield units,
// the windows stored with the data, and an automatic one from the data's values.
class WindowPresets
{
public:
    struct Preset
    {
        QString name;
        double width = 1.0;
        double center = 0.0;
    };

    // Brain, subdural, stroke, lung, mediastinum, abdomen, liver and bone.
    static const std::vector<Preset>& ct();
    // Each window stored in the set's first DICOM dataset (with its explanation as name, when
    // given), else the set's own window; empty when there is none.
    static std::vector<Preset> stored(const SharedImageSet& set);
    // From the 1st to the 99th percentile of the image's real values (sampled), so that a few
    // extreme voxels do not flatten the contrast. Empty for an empty image.
    static std::optional<Preset> automatic(const SharedImage& image);
};

}  // namespace Dravelin
