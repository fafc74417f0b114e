#include "scanning/DimensionsText.h"

#include <gtest/gtest.h>

using Dravelin::Dicom::DimensionsInfo;
using Dravelin::Dicom::dimensionsText;

TEST(DimensionsText, KindAndSpacing)
{
    DimensionsInfo info;
    info.kind = 2;
    info.hasSpacing = true;
    info.spacing = {0.5, 0.5, 1.25};
    EXPECT_EQ(dimensionsText(info), "3D (0.5mm x 0.5mm x 1.25mm)");
    info.spacing = {0.48828125, 1.0, 2.0 / 3.0};
    EXPECT_EQ(dimensionsText(info), "3D (0.4883mm x 1mm x 0.6667mm)");
    info.kind = 3;
    info.spacing = {0, 0, 0};
    EXPECT_EQ(dimensionsText(info), "2D+t (Unknown Spacing)");
    info.kind = 2;
    info.hasSpacing = false;
    EXPECT_EQ(dimensionsText(info), "3D (No Spacing)");
    const std::pair<int, const char*> kinds[] = {{0, "Unknown"}, {1, "2D"}, {4, "3D+t"}, {5, "Other"}, {9, "Unknown"}};
    for (const auto& [kind, text] : kinds) {
        info.kind = kind;
        EXPECT_EQ(dimensionsText(info), QString(text) + " (No Spacing)");
    }
}
