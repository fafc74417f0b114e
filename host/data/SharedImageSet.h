#pragma once

#include "host/data/Data.h"
#include "host/data/SharedImage.h"

#include <memory>
#include <vector>

namespace Dravelin {

// One or more images or volumes that belong together: the frames of a cine, the volumes of a
// time series, or a single image or volume. Its kind follows from its content: several
// images are a series (3), one image with several slices a volume (2), otherwise an image (1).
class SharedImageSet : public Data
{
public:
    SharedImageSet();
    // A set holding one image.
    explicit SharedImageSet(std::unique_ptr<SharedImage> image);
    ~SharedImageSet() override;

    int kind() const override;
    std::unique_ptr<Data> copy() const override;
    // A deep copy: voxels, geometry, window, properties and clonable components.
    std::unique_ptr<SharedImageSet> clone() const;
    std::optional<Eigen::AlignedBox3d> bounds() const override;

    int size() const { return static_cast<int>(m_images.size()); }
    bool empty() const { return m_images.empty(); }
    // Null input adds nothing. Returns the added image.
    SharedImage* add(std::unique_ptr<SharedImage> image);
    // The image at `index`, or null when out of range.
    SharedImage* get(int index = 0) const;
    std::unique_ptr<SharedImage> take(int index);
    const std::vector<std::unique_ptr<SharedImage>>& images() const { return m_images; }

    // The image views show and tools work on; kept within range when images change.
    int selectedIndex() const { return m_selected; }
    void setSelectedIndex(int index);
    SharedImage* selected() const { return get(m_selected); }

    // The voxel type of the first image (UInt8 when empty).
    PixelType pixelType() const;

    // Display window in real values (after rescale). Without one, viewers derive a window from
    // the value range.
    bool hasWindow() const { return m_windowWidth > 0.0; }
    double windowCenter() const { return m_windowCenter; }
    double windowWidth() const { return m_windowWidth; }
    // A width not above 0 removes the window.
    void setWindow(double center, double width);

    // What the reader had to change to make the data usable (e.g. unevenly spaced slices put on
    // a regular grid), for the user to see next to the data; empty when nothing.
    const QString& note() const { return m_note; }
    void setNote(const QString& note) { m_note = note; }

private:
    std::vector<std::unique_ptr<SharedImage>> m_images;
    int m_selected = 0;
    double m_windowCenter = 0.0;
    double m_windowWidth = 0.0;
    QString m_note;
};

}  // namespace Dravelin
