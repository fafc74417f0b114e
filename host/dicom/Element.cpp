#include "host/dicom/Element.h"

#include "host/core/Log.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcvr.h>

namespace Dravelin::Dicom {

namespace {

bool isValidUtf8(std::string_view s)
{
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        const unsigned char c = *p;
        int extra = 0;
        if (c < 0x80)
            extra = 0;
        else if ((c & 0xE0) == 0xC0 && c >= 0xC2)
            extra = 1;
        else if ((c & 0xF0) == 0xE0)
            extra = 2;
        else if ((c & 0xF8) == 0xF0 && c <= 0xF4)
            extra = 3;
        else
            return false;
        if (end - p <= extra)
            return false;
        for (int i = 1; i <= extra; ++i)
            if ((p[i] & 0xC0) != 0x80)
                return false;
        p += extra + 1;
    }
    return true;
}

std::string_view trimmed(std::string_view s)
{
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

// The text of a number: trimmed, without a leading "+".
std::string_view numberText(std::string_view input)
{
    std::string_view text = trimmed(input);
    if (!text.empty() && text[0] == '+')
        text.remove_prefix(1);
    return text;
}

bool isSequence(DcmElement* e)
{
    return e->ident() == EVR_SQ || e->ident() == EVR_pixelSQ;
}

std::optional<std::string> joinedText(DcmElement* e)
{
    if (!e || isSequence(e) || e->getLength() == 0)
        return std::nullopt;
    OFString value;
    if (e->getOFStringArray(value, OFTrue).bad())
        return std::nullopt;
    std::string s(value.c_str(), value.length());
    // Stray NUL padding is seen in the wild; it ends the text.
    if (auto nul = s.find('\0'); nul != std::string::npos)
        s.resize(nul);
    if (s.empty())
        return std::nullopt;
    return s;
}

std::optional<std::vector<std::string>> valueList(DcmElement* e)
{
    if (!e || isSequence(e) || e->getLength() == 0)
        return std::nullopt;
    const unsigned long vm = e->getVM();
    std::vector<std::string> result;
    result.reserve(vm);
    const DcmEVR vr = e->ident();
    if (vm > 1 && (vr == EVR_DS || vr == EVR_IS)) {
        // Reading value i scans the text from its start each time: split the whole text once
        // instead, which keeps long lists (contour points) linear.
        OFString all;
        if (e->getOFStringArray(all, OFFalse).bad())
            return std::nullopt;
        std::size_t start = 0;
        while (start <= all.length()) {
            std::size_t end = all.find('\\', start);
            if (end == OFString_npos)
                end = all.length();
            std::size_t first = start, last = end;
            while (first < last && (all[first] == ' ' || all[first] == '\0'))
                ++first;
            while (last > first && (all[last - 1] == ' ' || all[last - 1] == '\0'))
                --last;
            result.emplace_back(all.c_str() + first, last - first);
            start = end + 1;
        }
        return result;
    }
    for (unsigned long i = 0; i < vm; ++i) {
        OFString v;
        if (e->getOFString(v, i, OFTrue).bad())
            return std::nullopt;
        result.emplace_back(v.c_str(), v.length());
    }
    if (result.empty())
        return std::nullopt;
    return result;
}

std::string join(const std::vector<std::string>& values)
{
    std::string s;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i)
            s += '\\';
        s += values[i];
    }
    return s;
}

template <typename N>
std::optional<N> integerFromText(std::string_view text, bool tolerant)
{
    const auto v = parseInteger(text, tolerant);
    if (!v || *v < static_cast<long long>(std::numeric_limits<N>::min()) ||
        *v > static_cast<long long>(std::numeric_limits<N>::max()))
        return std::nullopt;
    return static_cast<N>(*v);
}

}  // namespace

QString textFromDicom(std::string_view bytes)
{
    // Most values (UIDs, numbers, codes) are ASCII, which Latin-1 reads as UTF-8 does, faster.
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return QString::fromLatin1(bytes.data(), static_cast<int>(bytes.size()));
    if (isValidUtf8(bytes))
        return QString::fromUtf8(bytes.data(), static_cast<int>(bytes.size()));
    return QString::fromLatin1(bytes.data(), static_cast<int>(bytes.size()));
}

std::optional<double> parseDecimal(std::string_view input, bool tolerant)
{
    const std::string_view text = numberText(input);
    if (text.empty())
        return std::nullopt;
    double value = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc() && ptr == text.data() + text.size() && std::isfinite(value))
        return value;
    if (!tolerant)
        return std::nullopt;
    std::string commas(text);
    std::replace(commas.begin(), commas.end(), ',', '.');
    auto [ptr2, ec2] = std::from_chars(commas.data(), commas.data() + commas.size(), value);
    if (ec2 == std::errc() && ptr2 != commas.data() && std::isfinite(value))
        return value;
    return std::nullopt;
}

std::optional<long long> parseInteger(std::string_view input, bool tolerant)
{
    const std::string_view text = numberText(input);
    if (text.empty())
        return std::nullopt;
    long long value = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
    if (ec == std::errc() && ptr == text.data() + text.size())
        return value;
    if (!tolerant)
        return std::nullopt;
    // "12.0" or "12mm": take a decimal that is integral.
    const auto d = parseDecimal(text, true);
    if (d && std::floor(*d) == *d && std::fabs(*d) < 9.2e18)
        return static_cast<long long>(*d);
    return std::nullopt;
}

std::string formatDecimal(double value)
{
    char buffer[64];
    auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (ec == std::errc() && ptr - buffer <= 16)
        return std::string(buffer, ptr);
    for (int precision = 15; precision > 0; --precision) {
        const int n = std::snprintf(buffer, sizeof buffer, "%.*g", precision, value);
        if (n > 0 && n <= 16)
            return std::string(buffer, static_cast<size_t>(n));
    }
    return "0";
}

ElementBase::ElementBase(DcmItem& item, const DcmTag& tag, Type type, bool tolerant)
    : m_item(item), m_tag(tag), m_type(type), m_tolerant(tolerant)
{
}

bool ElementBase::exists() const
{
    return find() != nullptr;
}

DcmElement* ElementBase::find() const
{
    DcmElement* element = nullptr;
    if (m_item.findAndGetElement(m_tag, element, OFFalse).bad())
        element = nullptr;
    if (!element && m_type == Required)
        logMissing(m_tag);
    return element;
}

void ElementBase::logMissing(const DcmTagKey& tag)
{
    if (Log::isAccepted(0))
        Log::log(0, "DICOM", "Missing element " + std::string(tag.toString().c_str()) + " " + DcmTag(tag).getTagName());
}

namespace {

bool putText(DcmItem& item, const DcmTag& tag, const std::string& text)
{
    const OFCondition status = item.putAndInsertString(tag, text.c_str(), OFTrue);
    if (status.bad()) {
        Log::log(
            3, "DICOM",
            "Cannot set " + std::string(DcmTagKey(tag).toString().c_str()) + " to '" + text + "': " + status.text());
        return false;
    }
    return true;
}

}  // namespace

// --- reading, per type ----------------------------------------------------------------------

namespace {

// Every typed read starts from one of two forms of the value: the whole text (values joined
// by "\") or the list of values. A source gives both, from a DCMTK element or from the bytes
// of an encoded value, so that the conversions below are the same for both.
struct ElementSource
{
    DcmElement* element;
    std::optional<std::string> joined() const { return joinedText(element); }
    std::optional<std::vector<std::string>> list() const { return valueList(element); }
};

bool isVr(const EncodedValue& v, const char* name)
{
    return v.vr[0] == name[0] && v.vr[1] == name[1];
}

// Texts that are one value whatever they hold: "\" is no separator in them.
bool isSingleValuedText(const EncodedValue& v)
{
    return isVr(v, "LT") || isVr(v, "ST") || isVr(v, "UT") || isVr(v, "UR");
}

// The encoded values come as DCMTK reads them (RawHeader passes nothing it would change), so
// the text is the bytes; unsigned shorts are written out in decimal, as DCMTK writes them.
struct EncodedSource
{
    const EncodedValue* value;

    std::optional<std::vector<std::string>> list() const
    {
        if (!value || value->bytes.empty())
            return std::nullopt;
        const std::string_view bytes = value->bytes;
        std::vector<std::string> result;
        if (isVr(*value, "US")) {
            const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
            for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
                result.push_back(std::to_string(unsigned(p[i]) | unsigned(p[i + 1]) << 8));
        } else if (isSingleValuedText(*value)) {
            result.emplace_back(bytes);
        } else {
            std::size_t start = 0;
            for (;;) {
                const std::size_t end = bytes.find('\\', start);
                result.emplace_back(bytes.substr(start, end == std::string_view::npos ? end : end - start));
                if (end == std::string_view::npos)
                    break;
                start = end + 1;
            }
        }
        if (result.empty())
            return std::nullopt;
        return result;
    }

    std::optional<std::string> joined() const
    {
        if (!value || value->bytes.empty())
            return std::nullopt;
        if (!isVr(*value, "US"))
            return std::string(value->bytes);
        auto values = list();
        if (!values)
            return std::nullopt;
        return join(*values);
    }
};

template <typename T>
struct Read;

template <>
struct Read<std::string>
{
    template <typename S>
    static std::optional<std::string> from(const S& source, bool)
    {
        return source.joined();
    }
};

template <>
struct Read<QString>
{
    template <typename S>
    static std::optional<QString> from(const S& source, bool)
    {
        auto s = source.joined();
        if (!s)
            return std::nullopt;
        return textFromDicom(*s);
    }
    // The text is the bytes (but for US): converted without a copy first.
    static std::optional<QString> from(const EncodedSource& source, bool)
    {
        if (!source.value || source.value->bytes.empty())
            return std::nullopt;
        if (isVr(*source.value, "US"))
            return textFromDicom(*source.joined());
        return textFromDicom(source.value->bytes);
    }
};

template <>
struct Read<std::vector<std::string>>
{
    template <typename S>
    static std::optional<std::vector<std::string>> from(const S& source, bool)
    {
        return source.list();
    }
};

template <>
struct Read<QStringList>
{
    template <typename S>
    static std::optional<QStringList> from(const S& source, bool)
    {
        auto values = source.list();
        if (!values)
            return std::nullopt;
        QStringList list;
        for (const auto& v : *values)
            list << textFromDicom(v);
        return list;
    }
};

// A number from the first value, or one from each value (none when one is not a number).
template <typename N, std::optional<N> (*parse)(std::string_view, bool)>
struct ReadNumber
{
    template <typename S>
    static std::optional<N> from(const S& source, bool tolerant)
    {
        auto values = source.list();
        if (!values)
            return std::nullopt;
        return parse(values->front(), tolerant);
    }
};

template <typename N, std::optional<N> (*parse)(std::string_view, bool)>
struct ReadNumbers
{
    // Encoded values are parsed where they lie, without a string per value (a folder scan reads
    // positions from every file); unsigned shorts take the general way.
    static std::optional<std::vector<N>> from(const EncodedSource& source, bool tolerant)
    {
        const EncodedValue* value = source.value;
        if (!value || value->bytes.empty() || isVr(*value, "US") || isSingleValuedText(*value))
            return from<EncodedSource>(source, tolerant);
        std::vector<N> result;
        for (std::string_view rest = value->bytes;;) {
            const std::size_t end = rest.find('\\');
            const std::optional<N> number = parse(rest.substr(0, end), tolerant);
            if (!number)
                return std::nullopt;
            result.push_back(*number);
            if (end == std::string_view::npos)
                return result;
            rest.remove_prefix(end + 1);
        }
    }

    template <typename S>
    static std::optional<std::vector<N>> from(const S& source, bool tolerant)
    {
        auto values = source.list();
        if (!values)
            return std::nullopt;
        std::vector<N> result;
        result.reserve(values->size());
        for (const auto& v : *values) {
            auto n = parse(v, tolerant);
            if (!n)
                return std::nullopt;
            result.push_back(*n);
        }
        return result;
    }
};

template <>
struct Read<double> : ReadNumber<double, parseDecimal>
{
};

template <>
struct Read<std::vector<double>> : ReadNumbers<double, parseDecimal>
{
};

template <>
struct Read<int> : ReadNumber<int, integerFromText<int>>
{
};

template <>
struct Read<unsigned int> : ReadNumber<unsigned int, integerFromText<unsigned int>>
{
};

template <>
struct Read<long long> : ReadNumber<long long, parseInteger>
{
};

template <>
struct Read<std::vector<int>> : ReadNumbers<int, integerFromText<int>>
{
};

}  // namespace

#define DRAVELIN_DICOM_ELEMENT_READ(T)                                             \
    template <>                                                                    \
    std::optional<T> Element<T>::valueOf(DcmElement* element, bool tolerant)       \
    {                                                                              \
        return Read<T>::from(ElementSource{element}, tolerant);                    \
    }                                                                              \
    template <>                                                                    \
    std::optional<T> Element<T>::valueOf(const EncodedValue* value, bool tolerant) \
    {                                                                              \
        return Read<T>::from(EncodedSource{value}, tolerant);                      \
    }

DRAVELIN_DICOM_ELEMENT_READ(QString)
DRAVELIN_DICOM_ELEMENT_READ(QStringList)
DRAVELIN_DICOM_ELEMENT_READ(std::string)
DRAVELIN_DICOM_ELEMENT_READ(std::vector<std::string>)
DRAVELIN_DICOM_ELEMENT_READ(double)
DRAVELIN_DICOM_ELEMENT_READ(std::vector<double>)
DRAVELIN_DICOM_ELEMENT_READ(int)
DRAVELIN_DICOM_ELEMENT_READ(std::vector<int>)
DRAVELIN_DICOM_ELEMENT_READ(unsigned int)
DRAVELIN_DICOM_ELEMENT_READ(long long)
#undef DRAVELIN_DICOM_ELEMENT_READ

// --- writing, per type ----------------------------------------------------------------------

template <>
bool Element<std::string>::setValue(const std::string& value)
{
    return putText(m_item, m_tag, value);
}

template <>
bool Element<QString>::setValue(const QString& value)
{
    return putText(m_item, m_tag, value.toStdString());
}

template <>
bool Element<std::vector<std::string>>::setValue(const std::vector<std::string>& value)
{
    return putText(m_item, m_tag, join(value));
}

template <>
bool Element<QStringList>::setValue(const QStringList& value)
{
    return putText(m_item, m_tag, value.join('\\').toStdString());
}

template <>
bool Element<double>::setValue(const double& value)
{
    return putText(m_item, m_tag, formatDecimal(value));
}

template <>
bool Element<std::vector<double>>::setValue(const std::vector<double>& value)
{
    std::vector<std::string> texts;
    for (double d : value)
        texts.push_back(formatDecimal(d));
    return putText(m_item, m_tag, join(texts));
}

template <>
bool Element<int>::setValue(const int& value)
{
    return putText(m_item, m_tag, std::to_string(value));
}

template <>
bool Element<unsigned int>::setValue(const unsigned int& value)
{
    return putText(m_item, m_tag, std::to_string(value));
}

template <>
bool Element<long long>::setValue(const long long& value)
{
    return putText(m_item, m_tag, std::to_string(value));
}

template <>
bool Element<std::vector<int>>::setValue(const std::vector<int>& value)
{
    std::vector<std::string> texts;
    for (int i : value)
        texts.push_back(std::to_string(i));
    return putText(m_item, m_tag, join(texts));
}

template class Element<QString>;
template class Element<QStringList>;
template class Element<std::string>;
template class Element<std::vector<std::string>>;
template class Element<double>;
template class Element<std::vector<double>>;
template class Element<int>;
template class Element<std::vector<int>>;
template class Element<unsigned int>;
template class Element<long long>;

}  // namespace Dravelin::Dicom
