#include "host/dicom/deid/DeidentificationProfiles.h"

#include "host/core/Log.h"

#include <QFile>
#include <QStringList>
#include <QTextStream>

static void initDeidentificationResources()
{
    Q_INIT_RESOURCE(deidentification);
}

namespace Dravelin::Dicom {

namespace {

struct Tables
{
    DeidentificationActionTable basic;
    DeidentificationActionTable relaxed;
};

const char* const kTablePath = ":/dravelin/dicom/deid-basic-profile.tsv";
constexpr int kTagColumn = 0;
constexpr int kBasicColumn = 2;
constexpr int kRetainUidsColumn = 4;

std::optional<std::uint16_t> hex4(const std::string& text)
{
    if (text.size() != 4)
        return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        value <<= 4;
        if (c >= '0' && c <= '9')
            value |= unsigned(c - '0');
        else if (c >= 'a' && c <= 'f')
            value |= unsigned(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            value |= unsigned(c - 'A' + 10);
        else
            return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

Tables buildTables()
{
    initDeidentificationResources();
    Tables t;
    QFile file(QString::fromLatin1(kTablePath));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        DRAVELIN_LOG(4, "DICOM", "The de-identification table is missing from the library");
        return t;
    }
    QTextStream in(&file);
    in.setCodec("UTF-8");
    in.readLine();  // header
    int lineNumber = 1;
    while (!in.atEnd()) {
        const QString line = in.readLine();
        ++lineNumber;
        if (line.trimmed().isEmpty())
            continue;
        const QStringList cells = line.split('\t');
        const auto key =
            cells.size() > kRetainUidsColumn ? deidentificationRowKey(cells[kTagColumn].toStdString()) : std::nullopt;
        if (!key || cells[kBasicColumn].isEmpty()) {
            DRAVELIN_LOG(4, "DICOM", QStringLiteral("De-identification table, line %1 unreadable").arg(lineNumber));
            continue;
        }
        const std::string basic = cells[kBasicColumn].toStdString();
        t.basic[*key] = basic;
        // Every U row too: the option column leaves out a few UIDs (Digital Signature UID, UID)
        // that the profile promises to keep.
        t.relaxed[*key] = cells[kRetainUidsColumn] == QLatin1String("K") || basic == "U" ? "K" : basic;
    }
    // Acquisition Time goes with Acquisition Date and DateTime: a dummy time beside a real
    // DateTime would contradict it.
    for (const TagProxy kept : {TagProxy(0x0008, 0x1030), TagProxy(0x0008, 0x103e), TagProxy(0x0008, 0x0022),
                                TagProxy(0x0008, 0x002a), TagProxy(0x0008, 0x0032)})
        t.relaxed[kept] = "K";
    return t;
}

const Tables& tables()
{
    static const Tables instance = buildTables();
    return instance;
}

}  // namespace

const DeidentificationActionTable& tagDeidentificationActionBasicProfile()
{
    return tables().basic;
}

const DeidentificationActionTable& tagDeidentificationActionRelaxedProfile()
{
    return tables().relaxed;
}

std::optional<TagProxy> deidentificationRowKey(const std::string& tagText)
{
    if (tagText.size() != 11 || tagText.front() != '(' || tagText[5] != ',' || tagText.back() != ')')
        return std::nullopt;
    const std::string group = tagText.substr(1, 4);
    const std::string element = tagText.substr(6, 4);
    if (group == "gggg" && element == "eeee")
        return DeidentificationKeys::privateAttributes;
    if (group == "50xx" && element == "xxxx")
        return DeidentificationKeys::curveData;
    if (group == "60xx") {
        const auto e = hex4(element);
        if (!e)
            return std::nullopt;
        return TagProxy(0x6000, *e);
    }
    const auto g = hex4(group);
    const auto e = hex4(element);
    if (!g || !e)
        return std::nullopt;
    return TagProxy(*g, *e);
}

const std::string* findDeidentificationAction(const DeidentificationActionTable& table, TagProxy tag)
{
    auto it = table.find(tag);
    if (it != table.end())
        return &it->second;
    const bool even = (tag.group & 1u) == 0;
    if (even && (tag.group & 0xff00u) == 0x6000u) {
        it = table.find(TagProxy(0x6000, tag.element));
        if (it != table.end())
            return &it->second;
    } else if (even && (tag.group & 0xff00u) == 0x5000u) {
        it = table.find(DeidentificationKeys::curveData);
        if (it != table.end())
            return &it->second;
    } else if (!even) {
        it = table.find(DeidentificationKeys::privateAttributes);
        if (it != table.end())
            return &it->second;
    }
    return nullptr;
}

}  // namespace Dravelin::Dicom
