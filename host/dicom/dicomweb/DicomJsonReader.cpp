#include "host/dicom/dicomweb/DicomJsonReader.h"

#include "host/core/Log.h"
#include "host/dicom/Utils.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/dcmdata/dcvruv.h>

#include <cmath>
#include <limits>
#include <type_traits>
#include <cstring>

namespace Dravelin::Dicom {

namespace {

// DS holds at most 16 characters: the shortest text that reads back as the same number.
std::string decimalText(double value)
{
    std::string best = QString::number(value, 'g', 17).toStdString();
    for (int precision = 1; precision <= 17; ++precision) {
        const QString text = QString::number(value, 'g', precision);
        if (text.toDouble() == value) {
            best = text.toStdString();
            break;
        }
    }
    for (int precision = 16; best.size() > 16 && precision > 0; --precision)
        best = QString::number(value, 'g', precision).toStdString();
    return best;
}

std::string numberOrText(const QJsonValue& value, bool integer)
{
    if (value.isString())
        return value.toString().trimmed().toStdString();
    if (!value.isDouble())
        return {};
    const double number = value.toDouble();
    if (integer && std::isfinite(number) && std::floor(number) == number && std::fabs(number) < 9.2e18)
        return QString::number(static_cast<long long>(number)).toStdString();
    return decimalText(number);
}

std::string personName(const QJsonValue& value)
{
    if (value.isString())  // some servers send PN as plain text
        return value.toString().toStdString();
    const QJsonObject groups = value.toObject();
    QStringList parts = {groups.value("Alphabetic").toString(), groups.value("Ideographic").toString(),
                         groups.value("Phonetic").toString()};
    while (!parts.isEmpty() && parts.last().isEmpty())
        parts.removeLast();
    return parts.join('=').toStdString();
}

bool parseTagKey(const QString& key, DcmTagKey& tag)
{
    if (key.size() != 8)
        return false;
    bool ok = false;
    const uint value = key.toUInt(&ok, 16);
    if (!ok)
        return false;
    tag = DcmTagKey(static_cast<Uint16>(value >> 16), static_cast<Uint16>(value & 0xFFFF));
    return true;
}

template <typename T>
std::vector<T> littleEndianValues(const QByteArray& bytes)
{
    std::vector<T> values(static_cast<size_t>(bytes.size()) / sizeof(T));
    // The host is little endian, as InlineBinary is.
    if (!values.empty())
        std::memcpy(values.data(), bytes.constData(), values.size() * sizeof(T));
    return values;
}

OFCondition putInlineBinary(DcmElement& element, DcmEVR vr, const QByteArray& bytes)
{
    const auto count = [](const auto& v) { return static_cast<unsigned long>(v.size()); };
    switch (vr) {
        case EVR_OW: {
            const auto v = littleEndianValues<Uint16>(bytes);
            return element.putUint16Array(v.data(), count(v));
        }
        case EVR_OF: {
            const auto v = littleEndianValues<Float32>(bytes);
            return element.putFloat32Array(v.data(), count(v));
        }
        case EVR_OD: {
            const auto v = littleEndianValues<Float64>(bytes);
            return element.putFloat64Array(v.data(), count(v));
        }
        case EVR_OL: {
            const auto v = littleEndianValues<Uint32>(bytes);
            return element.putUint32Array(v.data(), count(v));
        }
        case EVR_OV: {
            auto* wide = dynamic_cast<DcmUnsigned64bitVeryLong*>(&element);
            const auto v = littleEndianValues<Uint64>(bytes);
            return wide ? wide->putUint64Array(v.data(), count(v)) : EC_IllegalCall;
        }
        default:
            return element.putUint8Array(reinterpret_cast<const Uint8*>(bytes.constData()),
                                         static_cast<unsigned long>(bytes.size()));
    }
}

// Whether `number` converts to T without leaving its range (converting one that does not is
// undefined behaviour, and a server may send anything).
template <typename T>
bool fits(double number)
{
    if (std::is_floating_point_v<T>)
        return !std::isfinite(number) || std::fabs(number) <= double(std::numeric_limits<T>::max());
    return std::isfinite(number) && number > double(std::numeric_limits<T>::lowest()) - 1 &&
           number < double(std::numeric_limits<T>::max()) + 1;
}

OFCondition putNumber(DcmElement& element, DcmEVR vr, const QJsonValue& value, unsigned long pos)
{
    const double number = value.isString() ? value.toString().toDouble() : value.toDouble();
    const bool inRange = vr == EVR_US   ? fits<Uint16>(number)
                         : vr == EVR_SS ? fits<Sint16>(number)
                         : vr == EVR_UL ? fits<Uint32>(number)
                         : vr == EVR_SL ? fits<Sint32>(number)
                         : vr == EVR_FL ? fits<Float32>(number)
                                        : true;
    if (!inRange)
        return EC_InvalidValue;
    switch (vr) {
        case EVR_US: return element.putUint16(static_cast<Uint16>(number), pos);
        case EVR_SS: return element.putSint16(static_cast<Sint16>(number), pos);
        case EVR_UL: return element.putUint32(static_cast<Uint32>(number), pos);
        case EVR_SL: return element.putSint32(static_cast<Sint32>(number), pos);
        case EVR_FL: return element.putFloat32(static_cast<Float32>(number), pos);
        case EVR_FD: return element.putFloat64(number, pos);
        default: return EC_IllegalCall;
    }
}

bool isText(DcmEVR vr)
{
    switch (vr) {
        case EVR_AE:
        case EVR_AS:
        case EVR_CS:
        case EVR_DA:
        case EVR_DT:
        case EVR_LO:
        case EVR_LT:
        case EVR_SH:
        case EVR_ST:
        case EVR_TM:
        case EVR_UC:
        case EVR_UI:
        case EVR_UR:
        case EVR_UT: return true;
        default: return false;
    }
}

// Fills `element` from the "Value" array; false when the values do not fit the VR.
bool putValues(DcmElement& element, DcmEVR vr, const QJsonArray& values)
{
    if (isText(vr) || vr == EVR_PN || vr == EVR_IS || vr == EVR_DS || vr == EVR_UV || vr == EVR_SV) {
        QStringList texts;
        for (const QJsonValue& value : values) {
            if (value.isNull())
                texts << QString();
            else if (vr == EVR_PN)
                texts << QString::fromStdString(personName(value));
            else if (vr == EVR_IS || vr == EVR_UV || vr == EVR_SV)
                texts << QString::fromStdString(numberOrText(value, true));
            else if (vr == EVR_DS)
                texts << QString::fromStdString(numberOrText(value, false));
            else if (value.isString())
                texts << value.toString();
            else
                return false;
        }
        const QByteArray utf8 = texts.join('\\').toUtf8();
        return element.putString(utf8.constData(), static_cast<Uint32>(utf8.size())).good();
    }
    if (vr == EVR_AT) {
        unsigned long pos = 0;
        for (const QJsonValue& value : values) {
            DcmTagKey key;
            if (!parseTagKey(value.toString(), key) || element.putTagVal(key, pos++).bad())
                return false;
        }
        return true;
    }
    unsigned long pos = 0;
    for (const QJsonValue& value : values) {
        if (!value.isDouble() && !value.isString())
            return false;
        if (putNumber(element, vr, value, pos++).bad())
            return false;
    }
    return true;
}

}  // namespace

int DicomJsonReader::readObject(const QJsonObject& object, DcmItem& item)
{
    int skipped = 0;
    for (auto it = object.begin(); it != object.end(); ++it) {
        DcmTagKey key;
        const QJsonObject attribute = it.value().toObject();
        if (!parseTagKey(it.key(), key) || !it.value().isObject()) {
            DRAVELIN_LOG(1, "DICOM", "Skipping unreadable DICOM JSON attribute " + it.key());
            ++skipped;
            continue;
        }
        if (attribute.contains("BulkDataURI") && !attribute.contains("Value") && !attribute.contains("InlineBinary"))
            continue;

        DcmTag tag(key);
        const QString vrName = attribute.value("vr").toString();
        if (!vrName.isEmpty()) {
            const DcmVR vr(vrName.toLatin1().constData());
            tag.setVR(vr.isStandard() ? vr : DcmVR(EVR_UN));
        }
        const DcmEVR vr = tag.getEVR();

        if (vr == EVR_SQ) {
            auto* sequence = new DcmSequenceOfItems(tag);
            for (const QJsonValue& value : attribute.value("Value").toArray()) {
                auto* nested = new DcmItem();
                skipped += readObject(value.toObject(), *nested);
                // The top-level item declares UTF-8 for the whole tree.
                nested->findAndDeleteElement(DCM_SpecificCharacterSet);
                sequence->append(nested);
            }
            if (item.insert(sequence, true).bad()) {
                delete sequence;
                ++skipped;
            }
            continue;
        }

        DcmElement* element = nullptr;
        if (DcmItem::newDicomElementWithVR(element, tag).bad() || !element) {
            ++skipped;
            continue;
        }
        bool ok = true;
        if (attribute.contains("InlineBinary")) {
            const QByteArray bytes = QByteArray::fromBase64(attribute.value("InlineBinary").toString().toLatin1());
            ok = Utils::isBinaryVR(vr) ? putInlineBinary(*element, vr, bytes).good() : false;
        } else if (attribute.contains("Value")) {
            ok = attribute.value("Value").isArray() && putValues(*element, vr, attribute.value("Value").toArray());
        }
        if (!ok || item.insert(element, true).bad()) {
            DRAVELIN_LOG(1, "DICOM",
                         "Skipping DICOM JSON attribute " + it.key() + " with values unfit for VR " + vrName);
            delete element;
            ++skipped;
        }
    }
    return skipped;
}

std::variant<DicomJsonReader::Items, std::string> DicomJsonReader::readArray(const QByteArray& json, int* skipped)
{
    if (skipped)
        *skipped = 0;
    if (json.trimmed().isEmpty())
        return Items();
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (document.isNull())
        return "Malformed DICOM JSON: " + parseError.errorString().toStdString() + " at offset " +
               std::to_string(parseError.offset);
    if (!document.isArray())
        return std::string("Malformed DICOM JSON: the answer is not an array");
    Items items;
    for (const QJsonValue& value : document.array()) {
        if (!value.isObject())
            return std::string("Malformed DICOM JSON: an entry of the array is not an object");
        auto item = std::make_shared<DcmItem>();
        const int count = readObject(value.toObject(), *item);
        if (skipped)
            *skipped += count;
        item->putAndInsertString(DCM_SpecificCharacterSet, "ISO_IR 192");
        items.push_back(std::move(item));
    }
    return items;
}

}  // namespace Dravelin::Dicom
