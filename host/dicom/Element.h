#pragma once

#include "host/dicom/Error.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dctag.h>

namespace Dravelin::Dicom {

// A value as found encoded in a file (see RawHeader), for the typed reads without a DCMTK
// element: its bytes without the padding and its VR. Only values that DCMTK would read
// unchanged come this way (no NUL, no leading or trailing spaces inside, even length).
struct EncodedValue
{
    std::string_view bytes;
    char vr[2] = {0, 0};
};

class ElementBase
{
public:
    // How absence is treated. A missing Required element is logged at level 0 (channel
    // "DICOM"); a missing Optional one is not.
    enum Type { Required = 0, Optional = 1 };

    ElementBase(DcmItem& item, const DcmTag& tag, Type type = Optional, bool tolerant = false);
    virtual ~ElementBase() = default;

    const DcmTag& tag() const { return m_tag; }
    // True when the element is present in the item (it may still be empty).
    bool exists() const;

    // The log line of a missing Required element, for readers that find elements themselves.
    static void logMissing(const DcmTagKey& tag);

protected:
    DcmElement* find() const;

    DcmItem& m_item;
    DcmTag m_tag;
    Type m_type;
    // Tolerant reading accepts numbers that break the VR's syntax but are unambiguous in
    // practice ("0,5" with a decimal comma, "1.5mm" with a trailing unit); strict reading
    // treats them as no value.
    bool m_tolerant;
};

// Typed access to one element of a DICOM item. Text is returned as stored, trimmed of its
// padding; a text value that is not valid UTF-8 is read as Latin-1. Multi-valued texts read
// as one text come joined by "\".
//
// Supported T: QString, QStringList, std::string, std::vector<std::string>, double,
// std::vector<double>, int, std::vector<int>, unsigned int, long long.
template <typename T>
class Element : public ElementBase
{
public:
    using ElementBase::ElementBase;

    bool hasValue() const { return read().has_value(); }
    std::optional<T> get() const { return read(); }
    // Throws Dicom::Exception (code MissingValue) when the element is absent or empty.
    T value() const;
    T value(const T& defaultValue) const;
    // Replaces or inserts the element. Returns false (and logs) when DCMTK refuses the value.
    bool setValue(const T& value);

    // The value of an element found by other means (null when absent), read as get() reads it.
    static std::optional<T> valueOf(DcmElement* element, bool tolerant);
    // The same from the encoded value (null when absent): what valueOf gives for the element
    // DCMTK reads from those bytes.
    static std::optional<T> valueOf(const EncodedValue* value, bool tolerant);

private:
    std::optional<T> read() const { return valueOf(find(), m_tolerant); }
};

// Text helpers shared with other host readers.
QString textFromDicom(std::string_view bytes);
std::optional<double> parseDecimal(std::string_view text, bool tolerant);
std::optional<long long> parseInteger(std::string_view text, bool tolerant);
// A decimal string of at most 16 characters (the DS limit) that reads back as close as possible.
std::string formatDecimal(double value);

// The reading and writing of each supported type live in Element.cpp.
#define DRAVELIN_DICOM_ELEMENT_TYPE(T)                               \
    template <>                                                      \
    std::optional<T> Element<T>::valueOf(DcmElement*, bool);         \
    template <>                                                      \
    std::optional<T> Element<T>::valueOf(const EncodedValue*, bool); \
    template <>                                                      \
    bool Element<T>::setValue(const T& value);                       \
    extern template class Element<T>;

DRAVELIN_DICOM_ELEMENT_TYPE(QString)
DRAVELIN_DICOM_ELEMENT_TYPE(QStringList)
DRAVELIN_DICOM_ELEMENT_TYPE(std::string)
DRAVELIN_DICOM_ELEMENT_TYPE(std::vector<std::string>)
DRAVELIN_DICOM_ELEMENT_TYPE(double)
DRAVELIN_DICOM_ELEMENT_TYPE(std::vector<double>)
DRAVELIN_DICOM_ELEMENT_TYPE(int)
DRAVELIN_DICOM_ELEMENT_TYPE(std::vector<int>)
DRAVELIN_DICOM_ELEMENT_TYPE(unsigned int)
DRAVELIN_DICOM_ELEMENT_TYPE(long long)
#undef DRAVELIN_DICOM_ELEMENT_TYPE

template <typename T>
T Element<T>::value() const
{
    auto v = read();
    if (!v)
        throw Exception(Error(Error::MissingValue, Error::Warning, "Element has no value", TagProxy(m_tag)));
    return std::move(*v);
}

template <typename T>
T Element<T>::value(const T& defaultValue) const
{
    auto v = read();
    return v ? std::move(*v) : defaultValue;
}

}  // namespace Dravelin::Dicom
