#pragma once

#include "host/dicom/TagProxy.h"

#include <QString>

#include <optional>

namespace Dravelin {

// Names of the per-tag parameters of confidentiality profiles: "(gggg,eeee)", lower-case,
// zero-padded hexadecimal.
QString tagParameterName(Dicom::TagProxy tag);

// The tag a parameter name stands for. The text must split at "," into exactly two parts; the
// group is the last four characters of the first part, the element the first four of the
// second, both hexadecimal (a part that is not hexadecimal reads as 0). "(0010,0020)" and
// "0010,0020" give (0010,0020); "00100020" and "1,2,3" give nothing.
std::optional<Dicom::TagProxy> parseTag(const QString& text);

}  // namespace Dravelin
