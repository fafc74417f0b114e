#pragma once

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcfilefo.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace Dravelin::Tools {

// One reusable image dataset (explicit VR little endian, with file meta information and a
// private block). Writing many files changes the few per-file values and saves again, which
// keeps generation of large folders fast.
class DatasetGenerator
{
public:
    // modality "CT" or "MR" selects the SOP class and the modality-specific elements.
    DatasetGenerator(const std::string& modality, int width, int height, int frames = 1);

    void setPatient(const std::string& name, const std::string& id, const std::string& sex,
                    const std::string& birthDate);
    void setStudy(const std::string& uid, const std::string& id, const std::string& date, const std::string& time,
                  const std::string& description);
    void setSeries(const std::string& uid, int number, const std::string& description, const std::string& imageType);
    void setInstance(const std::string& uid, int number, const std::array<double, 3>& position);
    void setSpacing(double pixelSpacing, double sliceThickness);
    void setSpacingBetweenSlices(double spacing);
    void setString(const DcmTagKey& tag, const std::string& value);
    // A simple phantom (a disc whose radius depends on `slice`), one frame after the other.
    void setPhantomPixels(int slice);

    // Writes atomically: a temporary name in the same folder, then a rename.
    bool save(const std::string& path);
    DcmDataset& dataset() { return *m_file.getDataset(); }

private:
    DcmFileFormat m_file;
    int m_width;
    int m_height;
    int m_frames;
    std::vector<std::uint16_t> m_pixels;
};

}  // namespace Dravelin::Tools
