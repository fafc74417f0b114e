#include "tools/DatasetGenerator.h"

#include "host/dicom/Element.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <cmath>
#include <cstdio>

namespace Dravelin::Tools {

namespace {

std::string decimals(std::initializer_list<double> values)
{
    std::string text;
    for (double v : values) {
        if (!text.empty())
            text += '\\';
        text += Dicom::formatDecimal(v);
    }
    return text;
}

}  // namespace

DatasetGenerator::DatasetGenerator(const std::string& modality, int width, int height, int frames)
    : m_width(width), m_height(height), m_frames(frames)
{
    DcmDataset& ds = dataset();
    const bool ct = modality == "CT";
    setString(DCM_SpecificCharacterSet, "ISO_IR 192");
    setString(DCM_SOPClassUID, ct ? UID_CTImageStorage : UID_MRImageStorage);
    setString(DCM_Modality, modality);
    setString(DCM_Manufacturer, "Dravelin Generator");
    setString(DCM_ManufacturerModelName, ct ? "Synthetic CT" : "Synthetic MR");
    setString(DCM_BodyPartExamined, "HEAD");
    setString(DCM_ProtocolName, ct ? "Head routine" : "T1 axial");
    setString(DCM_AcquisitionNumber, "1");
    setString(DCM_ImageOrientationPatient, "1\\0\\0\\0\\1\\0");
    setString(DCM_FrameOfReferenceUID, "2.25.1");
    setString(DCM_SamplesPerPixel, "1");
    setString(DCM_PhotometricInterpretation, "MONOCHROME2");
    setString(DCM_Rows, std::to_string(height));
    setString(DCM_Columns, std::to_string(width));
    setString(DCM_BitsAllocated, "16");
    setString(DCM_BitsStored, "12");
    setString(DCM_HighBit, "11");
    setString(DCM_PixelRepresentation, "0");
    // Windows are in real values: Hounsfield units for CT, stored values for MR.
    setString(DCM_WindowCenter, ct ? "40\\400" : "1024");
    setString(DCM_WindowWidth, ct ? "400\\1800" : "2048");
    if (ct)
        setString(DCM_WindowCenterWidthExplanation, "SOFT TISSUE\\BONE");
    if (ct) {
        setString(DCM_RescaleIntercept, "-1024");
        setString(DCM_RescaleSlope, "1");
        setString(DCM_KVP, "120");
    } else {
        setString(DCM_MagneticFieldStrength, "3");
        setString(DCM_RepetitionTime, "500");
        setString(DCM_EchoTime, "15");
    }
    if (frames > 1)
        setString(DCM_NumberOfFrames, std::to_string(frames));

    // A private block, as real scanners write them: creator, then elements in its range.
    ds.putAndInsertString(DcmTag(0x0009, 0x0010, EVR_LO), "DRAVELIN GENERATOR");
    ds.putAndInsertString(DcmTag(0x0009, 0x1001, EVR_LO), "synthetic");
    ds.putAndInsertString(DcmTag(0x0009, 0x1002, EVR_UT),
                          "Private payload written by the Dravelin data generator for tests.");
    ds.putAndInsertUint16(DcmTag(0x0009, 0x1003, EVR_US), 42);

    setSpacing(0.5, 1.0);
    setPhantomPixels(0);
}

void DatasetGenerator::setString(const DcmTagKey& tag, const std::string& value)
{
    dataset().putAndInsertString(tag, value.c_str());
}

void DatasetGenerator::setPatient(const std::string& name, const std::string& id, const std::string& sex,
                                  const std::string& birthDate)
{
    setString(DCM_PatientName, name);
    setString(DCM_PatientID, id);
    setString(DCM_PatientSex, sex);
    setString(DCM_PatientBirthDate, birthDate);
}

void DatasetGenerator::setStudy(const std::string& uid, const std::string& id, const std::string& date,
                                const std::string& time, const std::string& description)
{
    setString(DCM_StudyInstanceUID, uid);
    setString(DCM_StudyID, id);
    setString(DCM_StudyDate, date);
    setString(DCM_StudyTime, time);
    setString(DCM_StudyDescription, description);
    setString(DCM_AccessionNumber, id);
    setString(DCM_SeriesDate, date);
    setString(DCM_SeriesTime, time);
    setString(DCM_ContentDate, date);
}

void DatasetGenerator::setSeries(const std::string& uid, int number, const std::string& description,
                                 const std::string& imageType)
{
    setString(DCM_SeriesInstanceUID, uid);
    setString(DCM_SeriesNumber, std::to_string(number));
    setString(DCM_SeriesDescription, description);
    setString(DCM_ImageType, imageType);
}

void DatasetGenerator::setInstance(const std::string& uid, int number, const std::array<double, 3>& position)
{
    setString(DCM_SOPInstanceUID, uid);
    setString(DCM_InstanceNumber, std::to_string(number));
    setString(DCM_ImagePositionPatient, decimals({position[0], position[1], position[2]}));
    setString(DCM_SliceLocation, Dicom::formatDecimal(position[2]));
}

void DatasetGenerator::setSpacing(double pixelSpacing, double sliceThickness)
{
    setString(DCM_PixelSpacing, decimals({pixelSpacing, pixelSpacing}));
    setString(DCM_SliceThickness, Dicom::formatDecimal(sliceThickness));
}

void DatasetGenerator::setSpacingBetweenSlices(double spacing)
{
    setString(DCM_SpacingBetweenSlices, Dicom::formatDecimal(spacing));
}

void DatasetGenerator::setPhantomPixels(int slice)
{
    const size_t frameSize = static_cast<size_t>(m_width) * m_height;
    m_pixels.assign(frameSize * m_frames, 0);
    for (int f = 0; f < m_frames; ++f) {
        const double radius = 0.2 + 0.2 * std::fabs(std::sin(0.15 * (slice + f)));
        for (int y = 0; y < m_height; ++y)
            for (int x = 0; x < m_width; ++x) {
                const double dx = (x + 0.5) / m_width - 0.5, dy = (y + 0.5) / m_height - 0.5;
                const double r = std::sqrt(dx * dx + dy * dy);
                const int value = r < radius ? 1000 + ((x / 8 + y / 8) % 2) * 500 : (r < 0.45 ? 200 : 0);
                m_pixels[f * frameSize + static_cast<size_t>(y) * m_width + x] = static_cast<std::uint16_t>(value);
            }
    }
    dataset().putAndInsertUint16Array(DCM_PixelData, m_pixels.data(), static_cast<unsigned long>(m_pixels.size()));
}

bool DatasetGenerator::save(const std::string& path)
{
    const std::string temporary = path + ".part";
    const OFCondition status = m_file.saveFile(temporary.c_str(), EXS_LittleEndianExplicit);
    if (status.bad()) {
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), status.text());
        std::remove(temporary.c_str());
        return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "cannot rename %s\n", temporary.c_str());
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace Dravelin::Tools
