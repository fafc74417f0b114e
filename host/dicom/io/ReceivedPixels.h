#pragma once

#include "host/dicom/io/PixelDecoder.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

class DcmDataset;

namespace Dravelin::Dicom {

// The pixels of instances received over the network, decoded as each arrives into one buffer
// (slice after slice, in arrival order) and removed from the instance, which keeps its header.
// A retrieved series thus holds its pixels once: the buffer later becomes the volume's memory,
// its slices put in order in place.
//
// Only uncompressed single-frame images of the first one's size and decoded type are taken;
// anything else stays whole in its dataset for the reader to decode (and to name when it cannot).
class ReceivedPixels
{
public:
    // Decodes `dataset` into the next slice and removes its pixel data. `expected` (0 when not
    // known) is how many instances the retrieval delivers: room for them all is made at once.
    // False, the dataset unchanged, when it is not taken.
    bool take(DcmDataset& dataset, std::size_t expected);

    // The slice a dataset's pixels went to, or -1.
    long slotOf(const DcmDataset* dataset) const;
    std::size_t size() const { return m_count; }
    const PixelFormat& format() const { return m_format; }
    VoxelType type() const { return m_type; }
    int channels() const { return m_channels; }
    std::size_t sliceBytes() const { return m_sliceBytes; }
    const std::uint8_t* slice(std::size_t slot) const { return m_data.data() + slot * m_sliceBytes; }

    // The buffer as the samples of a volume whose slice k is slot order[k] (distinct slots;
    // slots left out are dropped). The buffer is empty afterwards.
    std::vector<std::uint8_t> takeOrdered(const std::vector<std::size_t>& order);

private:
    std::vector<std::uint8_t> m_data;
    std::map<const DcmDataset*, std::size_t> m_slots;
    std::size_t m_count = 0;
    std::size_t m_sliceBytes = 0;
    PixelFormat m_format;
    VoxelType m_type = VoxelType::UInt8;
    int m_channels = 1;
};

}  // namespace Dravelin::Dicom
