#include "host/dicom/io/ReceivedPixels.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace Dravelin::Dicom {

namespace {

// Most of the time of writing a fresh buffer of hundreds of MiB goes to page faults, one per
// 4 KiB page; 2 MiB pages take 512 times fewer. Only advice: nothing changes where they are off.
void preferHugePages(std::uint8_t* data, std::size_t bytes)
{
    constexpr std::uintptr_t huge = std::uintptr_t(2) << 20;
    const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(data) + huge - 1) & ~(huge - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(huge - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace

bool ReceivedPixels::take(DcmDataset& dataset, std::size_t expected)
{
    // Compressed pixels take little room, and the reader decodes them on every core.
    if (DcmXfer(dataset.getOriginalXfer()).isEncapsulated())
        return false;
    PixelDecoder decoder(dataset);
    Error error;
    if (!decoder.open(error) || decoder.format().frames != 1)
        return false;
    const PixelFormat& f = decoder.format();
    if (m_count == 0) {
        m_format = f;
        m_type = decoder.outputType();
        m_channels = decoder.outputChannels();
        m_sliceBytes = decoder.outputFrameBytes();
    } else if (f.rows != m_format.rows || f.columns != m_format.columns || decoder.outputType() != m_type ||
               decoder.outputChannels() != m_channels || f.bitsStored != m_format.bitsStored) {
        return false;
    }
    const std::size_t used = m_count * m_sliceBytes;
    try {
        // Reserved memory that is never written costs no pages; growing by doubling copies.
        if (used + m_sliceBytes > m_data.capacity()) {
            m_data.reserve(std::max({expected, 2 * m_count, std::size_t(8)}) * m_sliceBytes);
            preferHugePages(m_data.data(), m_data.capacity());
        }
        m_data.resize(used + m_sliceBytes);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!decoder.decodeFrame(0, m_data.data() + used, error)) {
        m_data.resize(used);
        return false;
    }
    delete dataset.remove(DCM_PixelData);
    m_slots[&dataset] = m_count++;
    return true;
}

long ReceivedPixels::slotOf(const DcmDataset* dataset) const
{
    const auto found = m_slots.find(dataset);
    return found == m_slots.end() ? -1 : long(found->second);
}

std::vector<std::uint8_t> ReceivedPixels::takeOrdered(const std::vector<std::size_t>& order)
{
    // A full permutation: the wanted slots first, the others after them.
    std::vector<std::size_t> from = order;
    std::vector<bool> wanted(m_count, false);
    for (std::size_t slot : order)
        wanted[slot] = true;
    for (std::size_t slot = 0; slot < m_count; ++slot)
        if (!wanted[slot])
            from.push_back(slot);
    // Slice k takes slice from[k], cycle by cycle, with one slice of scratch.
    std::vector<std::uint8_t> scratch(m_sliceBytes);
    std::vector<bool> done(m_count, false);
    std::uint8_t* data = m_data.data();
    for (std::size_t start = 0; start < m_count; ++start) {
        if (done[start] || from[start] == start)
            continue;
        std::memcpy(scratch.data(), data + start * m_sliceBytes, m_sliceBytes);
        std::size_t k = start;
        while (from[k] != start) {
            std::memcpy(data + k * m_sliceBytes, data + from[k] * m_sliceBytes, m_sliceBytes);
            done[k] = true;
            k = from[k];
        }
        std::memcpy(data + k * m_sliceBytes, scratch.data(), m_sliceBytes);
        done[k] = true;
    }
    m_data.resize(order.size() * m_sliceBytes);
    m_slots.clear();
    m_count = 0;
    return std::move(m_data);
}

}  // namespace Dravelin::Dicom
