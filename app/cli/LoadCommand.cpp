#include "app/cli/LoadCommand.h"

#include "app/cli/CommandLine.h"
#include "app/cli/QuietLog.h"
#include "app/cli/TextFormat.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/DicomLoader.h"
#include "host/dicom/Error.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <cstdio>

namespace Dravelin::Cli {

namespace {

QString kindOf(const ImageDescriptor& d)
{
    return d.slices > 1 ? QStringLiteral("volume") : QStringLiteral("image");
}

QJsonObject descriptorJson(const ImageDescriptor& d)
{
    QJsonArray instances;
    for (const std::string& uid : d.instanceUids)
        instances.append(QString::fromUtf8(uid.c_str()));
    return QJsonObject{{"kind", kindOf(d)},
                       {"width", d.width},
                       {"height", d.height},
                       {"slices", d.slices},
                       {"spacing", QJsonArray{d.spacing[0], d.spacing[1], d.spacing[2]}},
                       {"metric", d.isMetric},
                       {"modality", QString::fromStdString(d.modality)},
                       {"instances", instances}};
}

void printText(QTextStream& out, const std::vector<std::vector<ImageDescriptor>>& sets)
{
    for (size_t s = 0; s < sets.size(); ++s) {
        out << "Image set " << s + 1 << ":\n";
        for (const ImageDescriptor& d : sets[s]) {
            out << "  " << kindOf(d) << ' ' << d.width << 'x' << d.height << ", " << d.slices << " slices, spacing "
                << d.spacing[0] << ' ' << d.spacing[1] << ' ' << d.spacing[2] << (d.isMetric ? " mm" : "")
                << (d.modality.empty() ? QString() : ", " + TextFormat::printable(QString::fromStdString(d.modality)))
                << '\n';
            for (const std::string& uid : d.instanceUids)
                out << "    " << TextFormat::printable(QString::fromUtf8(uid.c_str())) << '\n';
        }
    }
}

}  // namespace

int runLoadCommand(const QStringList& args)
{
    CommandLine cl("load",
                   "Loads a location through the host's DICOM loader and prints each image set: kind, size,\n"
                   "slices and spacing of every image, with the SOP Instance UIDs of its instances.");
    cl.addPositional("LOCATION",
                     "A location string as the browser makes it: files, folders with sub-queries,\n"
                     "pacs:// and DICOMweb URLs, joined by \"##\".");
    cl.addFlag("json", "Print one JSON document {\"imageSets\": [...]} instead of text.");
    if (const auto status = cl.parse(args))
        return *status;
    const QString location = cl.positionals().front();
    const bool json = cl.isSet("json");

    auto cache = std::make_shared<Dicom::DatasetCache>(0);
    const std::string text = location.toStdString();
    std::vector<std::vector<ImageDescriptor>> sets;
    {
        // The loader logs why it failed and then throws; the logged reason is the one line.
        QuietLog log;
        try {
            DicomLoader loader({text}, nullptr, cache, nullptr);
            sets = loader.loadDescriptors();
        } catch (const std::exception& e) {
            const QString reason = log.firstMessage();
            return cl.fail(2, reason.isEmpty() ? QString::fromUtf8(e.what()) : reason);
        }
        log.printHeld("dravelin-dicom load");
    }

    if (json) {
        QJsonArray list;
        for (const auto& set : sets) {
            QJsonArray images;
            for (const ImageDescriptor& d : set)
                images.append(descriptorJson(d));
            list.append(QJsonObject{{"images", images}});
        }
        const QByteArray bytes = QJsonDocument(QJsonObject{{"imageSets", list}}).toJson(QJsonDocument::Indented);
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        std::fflush(stdout);
        return 0;
    }
    QTextStream out(stdout);
    printText(out, sets);
    out.flush();
    return 0;
}

}  // namespace Dravelin::Cli
