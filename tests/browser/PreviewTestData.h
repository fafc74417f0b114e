#pragma once

#include "host/dicom/DatasetCache.h"

#include <QString>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcpixel.h>

#include <chrono>
#include <memory>
#include <thread>

namespace Dravelin::Test {

// A monochrome 8-bit image of `frames` 16x16 frames; frame k holds the value 25 * k, shown
// through a fixed window so that the value comes out unchanged.
std::shared_ptr<DcmDataset> makeMultiFrameDataset(int frames, const QString& seriesUid);
// Saves it as a DICOM file; false on failure.
bool writeMultiFrameFile(const QString& path, int frames, const QString& seriesUid);

// Pixel data that is slow to render, to stretch thumbnail generation on purpose.
class SlowPixelData : public DcmPixelData
{
public:
    SlowPixelData(const DcmTag& tag, std::chrono::milliseconds delay) : DcmPixelData(tag), m_delay(delay) {}
    SlowPixelData(const SlowPixelData&) = default;
    SlowPixelData& operator=(const SlowPixelData&) = delete;
    DcmObject* clone() const override { return new SlowPixelData(*this); }
    // DCMTK asks for the length when it renders (uncompressed frames are then read without
    // any further virtual call), and not when the dataset is copied.
    Uint32 getLength(const E_TransferSyntax xfer, const E_EncodingType encoding) override
    {
        std::this_thread::sleep_for(m_delay);
        return DcmPixelData::getLength(xfer, encoding);
    }

private:
    std::chrono::milliseconds m_delay;
};

// Hands out one prepared dataset for every location (no file access).
class FixedDatasetCache : public Dicom::DatasetCache
{
public:
    explicit FixedDatasetCache(std::shared_ptr<DcmDataset> dataset) : m_dataset(std::move(dataset)) {}
    std::vector<std::shared_ptr<DcmDataset>> load(const Filesystem::Url&, std::vector<std::string>*, Progress*,
                                                  bool) override
    {
        return {m_dataset};
    }

private:
    std::shared_ptr<DcmDataset> m_dataset;
};

// The multi-frame dataset with pixel data that is slow to read.
std::shared_ptr<DcmDataset> makeSlowDataset(std::chrono::milliseconds delay);

}  // namespace Dravelin::Test
