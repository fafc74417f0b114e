#pragma once

#include "host/data/DataComponent.h"

#include <cstdint>
#include <string>
#include <vector>

class DcmItem;

namespace Dravelin::Dicom {

// The overlay planes (groups 6000-601E) of the datasets behind an image set.
class OverlayDataComponent : public DataComponent
{
public:
    struct Overlay
    {
        int group = 0x6000;
        int rows = 0;
        int columns = 0;
        int originRow = 1;  // of the overlay's first pixel in the image, 1-based
        int originColumn = 1;
        int firstFrame = 1;  // the image frame of the overlay's first frame, 1-based
        int frames = 1;
        std::string type;  // "G" graphics or "R" region of interest
        std::string description;
        std::string label;
        std::vector<std::vector<std::uint8_t>> bits;  // per overlay frame, rows * columns values 0 or 1

        bool isSet(int frame, int row, int column) const;
    };

    QString id() const override;
    std::unique_ptr<DataComponent> clone() const override;

    // The overlays of one dataset; `frame` (0-based) is the image frame the dataset stands for.
    static std::vector<Overlay> read(DcmItem& dataset);

    std::vector<Overlay> overlays;
};

}  // namespace Dravelin::Dicom
