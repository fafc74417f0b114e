#include "host/properties/PropertiesIO.h"

#include "host/core/AtomicFile.h"
#include "host/core/Log.h"

#include <QFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace Dravelin {

namespace {

const QString kRoot = QStringLiteral("propertyfile");
const QString kBlock = QStringLiteral("property");
const QString kParam = QStringLiteral("param");
const QString kName = QStringLiteral("name");
const QString kType = QStringLiteral("type");

QString typeOf(const QVariant& value)
{
    switch (static_cast<QMetaType::Type>(value.userType())) {
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt: return QStringLiteral("int");
        case QMetaType::Double:
        case QMetaType::Float: return QStringLiteral("double");
        case QMetaType::Bool: return QStringLiteral("bool");
        default: return QStringLiteral("text");
    }
}

QString textOf(const QVariant& value)
{
    if (value.userType() == QMetaType::Double || value.userType() == QMetaType::Float)
        return QString::number(value.toDouble(), 'g', 17);
    if (value.userType() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return value.toString();
}

bool parseValue(const QString& type, const QString& text, QVariant* out)
{
    bool ok = true;
    if (type.isEmpty() || type == QLatin1String("text"))
        *out = text;
    else if (type == QLatin1String("int"))
        *out = text.trimmed().toInt(&ok);
    else if (type == QLatin1String("double"))
        *out = text.trimmed().toDouble(&ok);
    else if (type == QLatin1String("bool")) {
        const QString t = text.trimmed().toLower();
        ok = t == QLatin1String("true") || t == QLatin1String("false") || t == QLatin1String("1") ||
             t == QLatin1String("0");
        *out = t == QLatin1String("true") || t == QLatin1String("1");
    } else
        ok = false;
    return ok;
}

void writeBlock(QXmlStreamWriter& xml, const Properties& block)
{
    xml.writeStartElement(kBlock);
    xml.writeAttribute(kName, block.name());
    for (const auto& p : block.params()) {
        xml.writeStartElement(kParam);
        xml.writeAttribute(kName, p.name);
        const QString type = typeOf(p.value);
        if (type != QLatin1String("text"))
            xml.writeAttribute(kType, type);
        for (auto it = p.attributes.begin(); it != p.attributes.end(); ++it) {
            // Reserved or not usable as an XML attribute name: such attributes are not stored.
            if (it.key() == kName || it.key() == kType || !QRegExp("[A-Za-z_][A-Za-z0-9_.-]*").exactMatch(it.key()))
                continue;
            xml.writeAttribute(it.key(), it.value());
        }
        xml.writeCharacters(textOf(p.value));
        xml.writeEndElement();
    }
    for (const Properties* child : block.allSubProperties())
        writeBlock(xml, *child);
    xml.writeEndElement();
}

bool readBlock(QXmlStreamReader& xml, Properties& block)
{
    block.setName(xml.attributes().value(kName).toString());
    while (xml.readNextStartElement()) {
        if (xml.name() == kParam) {
            const auto attributes = xml.attributes();
            const QString name = attributes.value(kName).toString();
            const QString type = attributes.value(kType).toString();
            const QString text = xml.readElementText();
            if (xml.hasError())
                return false;
            QVariant value;
            if (!parseValue(type, text, &value)) {
                xml.raiseError(QStringLiteral("Parameter \"%1\": \"%2\" is not a valid %3").arg(name, text, type));
                return false;
            }
            block.addParam(name, value);
            for (const auto& a : attributes)
                if (a.name() != kName && a.name() != kType)
                    block.setParamAttribute(name, a.name().toString(), a.value().toString());
        } else if (xml.name() == kBlock) {
            if (!readBlock(xml, *block.addSubProperties(QString())))
                return false;
        } else {
            xml.skipCurrentElement();
        }
    }
    return !xml.hasError();
}

}  // namespace

std::unique_ptr<Properties> PropertiesIO::fromXmlString(const QString& text, QString* error)
{
    QXmlStreamReader xml(text);
    auto result = std::make_unique<Properties>();
    bool found = false;
    if (xml.readNextStartElement() && xml.name() == kRoot) {
        while (xml.readNextStartElement()) {
            if (xml.name() == kBlock && !found) {
                found = readBlock(xml, *result);
                if (!found)
                    break;
            } else {
                xml.skipCurrentElement();
            }
        }
    } else if (!xml.hasError()) {
        xml.raiseError(QStringLiteral("not a property file (root element <%1> expected)").arg(kRoot));
    }
    if (!xml.hasError() && !found)
        xml.raiseError(QStringLiteral("no <%1> block").arg(kBlock));
    if (xml.hasError()) {
        if (error)
            *error = QStringLiteral("line %1: %2").arg(xml.lineNumber()).arg(xml.errorString());
        return nullptr;
    }
    return result;
}

std::unique_ptr<Properties> PropertiesIO::loadFromXML(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        DRAVELIN_LOG(4, "", QStringLiteral("Cannot open property file %1: %2").arg(path, file.errorString()));
        return nullptr;
    }
    QString error;
    auto result = fromXmlString(QString::fromUtf8(file.readAll()), &error);
    if (!result)
        DRAVELIN_LOG(4, "", QStringLiteral("Cannot read property file %1: %2").arg(path, error));
    return result;
}

QString PropertiesIO::toXmlString(const Properties& properties, int format, const QString& comment)
{
    QString text;
    QXmlStreamWriter xml(&text);
    xml.setAutoFormatting(format == 0);
    xml.setAutoFormattingIndent(2);
    xml.writeStartDocument();
    if (!comment.isEmpty())
        // "--" may not appear inside an XML comment.
        xml.writeComment(QString(comment).replace(QLatin1String("--"), QLatin1String("- -")));
    xml.writeStartElement(kRoot);
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1"));
    writeBlock(xml, properties);
    xml.writeEndElement();
    xml.writeEndDocument();
    return text;
}

bool PropertiesIO::saveToXML(const Properties& properties, const QString& path, int format, const QString& comment)
{
    AtomicFile file(path);
    if (file.open() && file.write(toXmlString(properties, format, comment).toUtf8()) && file.commit())
        return true;
    DRAVELIN_LOG(4, "", QStringLiteral("Cannot write property file %1: %2").arg(path, file.reason()));
    return false;
}

}  // namespace Dravelin
