#include "host/dicom/deid/PixelCleaningRules.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcitem.h>

namespace Dravelin::Dicom {

namespace {

const std::map<QString, DcmTagKey>& textAttributes()
{
    static const std::map<QString, DcmTagKey> attributes{
        {QStringLiteral("Modality"), DCM_Modality},
        {QStringLiteral("Manufacturer"), DCM_Manufacturer},
        {QStringLiteral("ManufacturerModelName"), DCM_ManufacturerModelName}};
    return attributes;
}

const std::map<QString, DcmTagKey>& numberAttributes()
{
    static const std::map<QString, DcmTagKey> attributes{{QStringLiteral("Rows"), DCM_Rows},
                                                         {QStringLiteral("Columns"), DCM_Columns}};
    return attributes;
}

bool wholeNumber(const QJsonValue& value, int minimum, int* out)
{
    if (!value.isDouble())
        return false;
    const double d = value.toDouble();
    if (d != static_cast<double>(static_cast<long long>(d)) || d < minimum || d > 65535)
        return false;
    *out = static_cast<int>(d);
    return true;
}

QString parseRegion(const QJsonValue& value, PixelCleaner::Region& region)
{
    if (!value.isObject())
        return QStringLiteral("a region is not an object");
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it)
        if (!QStringList{"frame", "x", "y", "width", "height"}.contains(it.key()))
            return "unknown region key \"" + it.key() + "\"";
    int x = 0, y = 0, width = 0, height = 0;
    if (!wholeNumber(object.value("x"), 0, &x) || !wholeNumber(object.value("y"), 0, &y) ||
        !wholeNumber(object.value("width"), 1, &width) || !wholeNumber(object.value("height"), 1, &height))
        return QStringLiteral("a region needs whole numbers x, y (from 0), width and height (from 1)");
    if (object.contains("frame") && !wholeNumber(object.value("frame"), 0, &region.frame))
        return QStringLiteral("\"frame\" must be a whole number from 0");
    region.rect = QRect(x, y, width, height);
    return QString();
}

}  // namespace

std::shared_ptr<const PixelCleaningRules> PixelCleaningRules::load(const QString& file, QString* error)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) {
        *error = file + ": " + in.errorString();
        return nullptr;
    }
    QString problem;
    auto rules = parse(in.readAll(), &problem);
    if (!rules)
        *error = file + ": " + problem;
    return rules;
}

std::shared_ptr<const PixelCleaningRules> PixelCleaningRules::parse(const QByteArray& json, QString* error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (!document.isObject() || !document.object().value("rules").isArray()) {
        *error = parseError.error != QJsonParseError::NoError
                     ? "not JSON (" + parseError.errorString() + " at byte " + QString::number(parseError.offset) + ")"
                     : QStringLiteral("no \"rules\" array");
        return nullptr;
    }
    auto rules = std::make_shared<PixelCleaningRules>();
    const QJsonArray array = document.object().value("rules").toArray();
    for (int i = 0; i < array.size(); ++i) {
        const QString where = "rule " + QString::number(i + 1) + ": ";
        const QJsonObject object = array.at(i).toObject();
        Rule rule;
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (textAttributes().count(it.key()) && it.value().isString()) {
                rule.texts[it.key()] = it.value().toString().trimmed();
            } else if (numberAttributes().count(it.key())) {
                int number = 0;
                if (!wholeNumber(it.value(), 1, &number)) {
                    *error = where + it.key() + " must be a whole number from 1";
                    return nullptr;
                }
                rule.numbers[it.key()] = number;
            } else if (it.key() == QLatin1String("regions") && it.value().isArray()) {
                for (const QJsonValue& value : it.value().toArray()) {
                    PixelCleaner::Region region;
                    if (const QString problem = parseRegion(value, region); !problem.isEmpty()) {
                        *error = where + problem;
                        return nullptr;
                    }
                    rule.regions.push_back(region);
                }
            } else {
                *error = where + "unknown key \"" + it.key() +
                         "\" (known: Modality, Manufacturer, ManufacturerModelName, Rows, Columns, regions)";
                return nullptr;
            }
        }
        if (rule.texts.empty() && rule.numbers.empty()) {
            *error = where + "it names no attribute to match";
            return nullptr;
        }
        if (rule.regions.empty()) {
            *error = where + "it has no regions";
            return nullptr;
        }
        rules->m_rules.push_back(std::move(rule));
    }
    return rules;
}

std::vector<PixelCleaner::Region> PixelCleaningRules::regionsFor(DcmItem& dataset) const
{
    std::vector<PixelCleaner::Region> regions;
    for (const Rule& rule : m_rules) {
        bool matches = true;
        for (const auto& [keyword, value] : rule.texts) {
            OFString actual;
            dataset.findAndGetOFStringArray(textAttributes().at(keyword), actual);
            matches = matches && QString::fromUtf8(actual.c_str()).trimmed().compare(value, Qt::CaseInsensitive) == 0;
        }
        for (const auto& [keyword, value] : rule.numbers) {
            Uint16 actual = 0;
            matches =
                matches && dataset.findAndGetUint16(numberAttributes().at(keyword), actual).good() && actual == value;
        }
        if (matches)
            regions.insert(regions.end(), rule.regions.begin(), rule.regions.end());
    }
    return regions;
}

}  // namespace Dravelin::Dicom
