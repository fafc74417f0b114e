#include "host/dicom/CheckedDcmOutput.h"

#include <dcmtk/dcmdata/dcostrma.h>
#include <dcmtk/dcmdata/dcwcache.h>

#include <exception>
#include <limits>
#include <vector>

namespace Dravelin::Dicom {

namespace {

// Buffers DCMTK's element-sized writes into large blocks; after the first failure the bytes are
// dropped (the caller discards the file).
class BlockConsumer : public DcmConsumer
{
public:
    explicit BlockConsumer(const CheckedDcmOutput::Sink& sink) : m_sink(sink) { m_buffer.reserve(kBlock); }
    OFBool good() const override { return m_failure.empty(); }
    OFCondition status() const override
    {
        return good() ? EC_Normal : makeOFCondition(OFM_dcmdata, 901, OF_error, m_failure.c_str());
    }
    OFBool isFlushed() const override { return m_buffer.empty(); }
    offile_off_t avail() const override { return std::numeric_limits<offile_off_t>::max(); }
    offile_off_t write(const void* buf, offile_off_t buflen) override
    {
        if (good() && buflen > 0) {
            const char* bytes = static_cast<const char*>(buf);
            m_buffer.insert(m_buffer.end(), bytes, bytes + buflen);
            if (m_buffer.size() >= kBlock)
                flush();
        }
        return buflen;
    }
    void flush() override
    {
        if (good() && !m_buffer.empty())
            m_failure = m_sink(m_buffer.data(), m_buffer.size());
        m_buffer.clear();
    }
    const std::string& failure() const { return m_failure; }

private:
    static constexpr size_t kBlock = 1 << 20;
    const CheckedDcmOutput::Sink& m_sink;
    std::string m_failure;
    std::vector<char> m_buffer;
};

// DcmOutputStream's constructor is protected.
class BlockStream : public DcmOutputStream
{
public:
    explicit BlockStream(DcmConsumer* consumer) : DcmOutputStream(consumer) {}
};

}  // namespace

std::string CheckedDcmOutput::write(DcmFileFormat& file, E_TransferSyntax xfer, E_EncodingType encoding,
                                    E_FileWriteMode mode, const Sink& sink)
{
    BlockConsumer consumer(sink);
    OFCondition status = EC_Normal;
    try {
        BlockStream stream(&consumer);
        DcmWriteCache cache;
        file.transferInit();
        status = file.write(stream, xfer, encoding, &cache, EGL_recalcGL, EPD_noChange, 0, 0, 0, mode);
        file.transferEnd();
        for (int i = 0; i < 16 && !stream.isFlushed(); ++i)
            stream.flush();
    } catch (const std::exception& e) {
        status = makeOFCondition(OFM_dcmdata, 902, OF_error, e.what());
    }
    consumer.flush();
    if (!consumer.failure().empty())
        return consumer.failure();
    return status.bad() ? std::string(status.text()) : std::string();
}

}  // namespace Dravelin::Dicom
