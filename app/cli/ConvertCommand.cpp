#include "app/cli/ConvertCommand.h"

#include "app/cli/CommandLine.h"
#include "app/cli/QuietLog.h"
#include "host/core/Url.h"
#include "host/data/SharedImageSet.h"
#include "host/dicom/io/Compression.h"
#include "host/dicom/io/DicomIoAlgorithm.h"

#include <QDir>

namespace Dravelin::Cli {

int runConvertCommand(const QStringList& args)
{
    CommandLine cl("convert",
                   "Loads the image sets of a location and writes them as new DICOM instances (CT and MR\n"
                   "volumes one instance per slice, RT dose as multi-frame RT Dose, anything else as\n"
                   "multi-frame secondary capture).");
    cl.addPositional("LOCATION", "A location string: files, folders, pacs:// or DICOMweb URLs, joined by \"##\".");
    cl.addPositional("OUT",
                     "A folder (one file per instance, a sub-folder per image set when there are several),\n"
                     "a file name for a single instance, or a pacs:// URL.");
    cl.addValue("compression", "NAME|N",
                "Transfer syntax: implicit (0, default), explicit (1), deflated (2), big-endian (3), "
                "jpeg (4, lossy), jpeg-lossless (5), jpeg-ls (6), jpeg-ls-near (7), j2k (8, lossy), "
                "j2k-lossless (9). The lossless ones write every value as loaded or refuse the image set "
                "with the reason (32-bit integers outside RT dose, floating point that no rescale of "
                "16-bit integers gives back).");
    cl.addValue("quality", "Q",
                "Quality 1-100 of the lossy compressions (default 90). It bounds how far any value moves, "
                "in steps: jpeg and j2k 2 + S, S = 200 - 2Q (Q >= 50) or 5000/Q (Q < 50), so Q 100: 2, "
                "95: 12, 90: 22, 75: 52, 50: 102, 25: 202, 10: 502; jpeg-ls-near NEAR = 1 + (100 - Q)/11, "
                "so Q 90: 1, 50: 5, 10: 9. A step is one grey level of 8-bit images, the value's own unit "
                "for integers of up to 16 bits (jpeg-ls-near, j2k), 1/4095 of the value range for other "
                "jpeg images (12-bit samples; at Q 90 that is 0.54% of the range), 1/65535 of it for "
                "32-bit and floating-point values (jpeg-ls-near, j2k). Grey jpeg and all j2k frames are "
                "decoded again and coded at a higher quality when they exceed the bound; jpeg colour "
                "(YCbCr, half-width chroma) is not bounded per sample.");
    if (const auto status = cl.parse(args))
        return *status;
    Dicom::Compression compression = Dicom::Compression::ImplicitLittleEndian;
    if (cl.isSet("compression")) {
        const auto parsed = Dicom::parseCompression(cl.value("compression").toStdString());
        if (!parsed)
            cl.reject("unknown compression '" + cl.value("compression") + "'");
        else
            compression = *parsed;
    }
    const auto quality = cl.number("quality", 1, 100);
    if (cl.failed())
        return cl.usageError();
    QuietLog quiet;  // the algorithm's errors are printed once below

    const QStringList positionals = cl.positionals();
    DicomIoAlgorithm reader;
    reader.setLocation(positionals[0]);
    reader.compute();
    // Something left out makes the result partial; a warning (colour reduced to 8 bits) does not.
    bool partial = false;
    for (const Dicom::Error& e : reader.caughtErrors()) {
        if (e.type == Dicom::Error::Fatal)
            cl.fail(0, QString::fromStdString(e.message));
        else if (e.type == Dicom::Error::Warning)
            cl.fail(0, "warning: " + QString::fromStdString(e.message));
        partial = partial || e.type != Dicom::Error::Warning;
    }
    OwningDataList data = reader.takeOutput();
    const std::vector<SharedImageSet*> sets = data.getImages();
    if (sets.empty())
        return cl.fail(2, "nothing to convert: the location holds no image set");

    const QString out = positionals[1];
    const bool pacs = Filesystem::Url(out.toStdString()).scheme() == "pacs";
    int written = 0;
    for (std::size_t i = 0; i < sets.size(); ++i) {
        DicomIoAlgorithm writer(DicomIoAlgorithm::Write);
        writer.setInput(DataList{sets[i]});
        writer.setCompression(compression);
        writer.setCompressionQuality(quality.value_or(90));
        QString target = out;
        if (!pacs && sets.size() > 1)
            target = QDir(out).filePath(QStringLiteral("set%1").arg(i + 1, 3, 10, QLatin1Char('0')));
        writer.setLocation(target);
        writer.compute();
        if (writer.status() == Algorithm::Success) {
            ++written;
            continue;
        }
        for (const Dicom::Error& e : writer.caughtErrors())
            cl.fail(0, sets[i]->name() + ": " + QString::fromStdString(e.message));
    }
    if (written == 0)
        return 2;
    return written == static_cast<int>(sets.size()) && !partial ? 0 : 1;
}

}  // namespace Dravelin::Cli
