#pragma once

#include <QString>

#include <array>
#include <string>
#include <vector>

namespace Dravelin::Test {

// One generated instance; the defaults describe an axial 16x12 CT slice at z = 0.
struct SliceFields
{
    std::string seriesUid = "1.2.826.0.1.3680043.2.1143.9.1";
    std::string modality = "CT";
    int rows = 12;
    int columns = 16;
    std::array<double, 6> orientation{1, 0, 0, 0, 1, 0};
    std::array<double, 3> position{0, 0, 0};
    bool withPosition = true;
    std::string pixelSpacing = "0.5\\0.75";  // row spacing \ column spacing; empty: none
    int instanceNumber = 1;
    int temporalPosition = 0;  // 0: not written
    int frames = 1;
    std::vector<std::array<double, 3>> framePositions;  // written as per-frame functional groups
    std::string spacingBetweenSlices;                   // empty: none
    std::string characterSet;                           // empty: none
    std::string patientName = "Test^Patient";
};

// Writes the instance with DCMTK (explicit little endian, 16-bit pixels holding the
// instance number); true on success.
bool writeSlice(const QString& path, const SliceFields& fields);

}  // namespace Dravelin::Test
