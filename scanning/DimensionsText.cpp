#include "scanning/DimensionsText.h"

#include <fmt/format.h>

#include <cmath>

namespace Dravelin::Dicom {

QString dimensionsText(const DimensionsInfo& info)
{
    static const char* const kinds[] = {"2D", "3D", "2D+t", "3D+t", "Other"};
    const QString kind = info.kind >= 1 && info.kind <= 5 ? QString(kinds[info.kind - 1]) : QString("Unknown");
    QString spacing;
    if (!info.hasSpacing) {
        spacing = "No Spacing";
    } else if (std::abs(info.spacing[0]) <= 1e-12 && std::abs(info.spacing[1]) <= 1e-12 &&
               std::abs(info.spacing[2]) <= 1e-12) {
        spacing = "Unknown Spacing";
    } else {
        spacing = QString::fromStdString(
            fmt::format("{0:.4}mm x {1:.4}mm x {2:.4}mm", info.spacing[0], info.spacing[1], info.spacing[2]));
    }
    return kind + " (" + spacing + ")";
}

}  // namespace Dravelin::Dicom
