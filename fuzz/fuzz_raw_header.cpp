// The header reader of folder scans on any bytes, whole or as the start of a longer file, and
// the typed reads of every value it keeps.
#include "fuzz/FuzzSetup.h"
#include "host/dicom/Element.h"
#include "host/dicom/RawHeader.h"

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Dravelin::Dicom::Element;
using Dravelin::Dicom::EncodedValue;
using Dravelin::Dicom::RawHeader;

// One element of each kind the records keep (text, several values, numbers, UIDs, one long
// text, unsigned shorts) and a sequence, in tag order.
std::vector<RawHeader::Field> fields()
{
    return {{0x00080008u, {'C', 'S'}}, {0x00080016u, {'U', 'I'}}, {0x00080020u, {'D', 'A'}}, {0x00080030u, {'T', 'M'}},
            {0x00100010u, {'P', 'N'}}, {0x00100020u, {'L', 'O'}}, {0x00104000u, {'L', 'T'}}, {0x00200013u, {'I', 'S'}},
            {0x00200032u, {'D', 'S'}}, {0x00280010u, {'U', 'S'}}, {0x52009229u, {'S', 'Q'}}};
}

// A kept value must lie inside the bytes given.
void check(const EncodedValue* value, const char* data, std::size_t size)
{
    if (!value || value->bytes.empty())
        return;
    if (value->bytes.data() < data || value->bytes.data() + value->bytes.size() > data + size)
        std::abort();
    Element<QString>::valueOf(value, false);
    Element<QStringList>::valueOf(value, false);
    Element<std::vector<double>>::valueOf(value, true);
    Element<double>::valueOf(value, false);
    Element<int>::valueOf(value, true);
    Element<long long>::valueOf(value, false);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    dravelinFuzzSetup();
    static RawHeader header(fields());
    const char* bytes = reinterpret_cast<const char*>(data);
    for (const bool wholeFile : {true, false}) {
        if (header.parse(bytes, size, wholeFile) != RawHeader::Result::Parsed)
            continue;
        for (std::size_t i = 0; i < header.fields().size(); ++i)
            check(header.value(i), bytes, size);
    }
    return 0;
}
