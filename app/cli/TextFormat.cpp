#include "app/cli/TextFormat.h"

#include "host/core/FileNameCodec.h"
#include "scanning/DimensionsText.h"

#include "scanning/Image.h"
#include "scanning/Patient.h"
#include "scanning/Series.h"
#include "scanning/Study.h"

namespace Dravelin::Cli::TextFormat {

namespace {

template <size_t N>
QString numbers(const std::array<double, N>& values)
{
    QStringList texts;
    for (double v : values)
        texts << QString::number(v, 'g', 10);
    return texts.join(QLatin1Char('\\'));
}

}  // namespace

QString printable(const QString& text, bool keepLineFeeds)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        // C0 and C1 controls and DEL; a value must never move the cursor or start an escape sequence.
        if (u >= 0xDC80 && u <= 0xDCFF)  // a file name byte that is not UTF-8
            out += FileNameCodec::escaped(QString(c));
        else if ((u >= 0x20 && u < 0x7F) || u > 0x9F || (keepLineFeeds && u == '\n'))
            out += c;
        else if (u == '\n')
            out += QLatin1String("\\n");
        else if (u == '\r')
            out += QLatin1String("\\r");
        else if (u == '\t')
            out += QLatin1String("\\t");
        else
            out += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
    }
    return out;
}

QString quoted(const QString& text)
{
    QString escaped = printable(text);
    escaped.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

QString date(const QDate& value)
{
    return value.isNull() ? QStringLiteral("-") : value.toString(QStringLiteral("yyyy-MM-dd"));
}

QString time(const QTime& value)
{
    return value.isNull() ? QStringLiteral("-") : value.toString(QStringLiteral("HH:mm:ss.zzz"));
}

QString dimensions(const Dicom::DimensionsInfo& info)
{
    // The browser's text with the size put after the kind: "3D 64x64x20 (0.7mm x ...)".
    const QString text = Dicom::dimensionsText(info);
    const int blank = text.indexOf(QLatin1Char(' '));
    return QStringLiteral("%1 %2x%3x%4%5")
        .arg(text.left(blank))
        .arg(info.width)
        .arg(info.height)
        .arg(info.slices)
        .arg(text.mid(blank));
}

QString patientLine(const Dicom::Patient& p)
{
    return QStringLiteral("Patient id=%1 name=%2 sex=%3 birth=%4 comment=%5 studies=%6")
        .arg(quoted(p.patientId), quoted(p.patientName), quoted(p.sex), date(p.birthDate), quoted(p.comment))
        .arg(p.studies.size());
}

QString studyLine(const Dicom::Study& s)
{
    return QStringLiteral("Study uid=%1 id=%2 date=%3 time=%4 description=%5 series=%6")
        .arg(s.studyInstanceUid, quoted(s.studyId), date(s.studyDate), time(s.studyTime), quoted(s.studyDescription))
        .arg(s.series.size());
}

QString seriesLine(const Dicom::Series& s)
{
    return QStringLiteral(
               "Series uid=%1 number=%2 modality=%3 date=%4 time=%5 description=%6 sopClass=%7 imageType=%8 "
               "images=%9 estimate=%10")
        .arg(s.seriesInstanceUid, quoted(s.seriesNumber), s.modality, date(s.seriesDate), time(s.seriesTime),
             quoted(s.seriesDescription), s.sopClassUid, quoted(s.imageType))
        .arg(s.images.size())
        .arg(dimensions(s.estimatedDimensions));
}

QString imageLine(const Dicom::Image& i)
{
    const QString between =
        i.spacingBetweenSlices ? QString::number(*i.spacingBetweenSlices, 'g', 10) : QStringLiteral("-");
    const QString acquisition = i.acquisitionNumber ? QString::number(*i.acquisitionNumber) : QStringLiteral("-");
    return QStringLiteral(
               "Image instance=%1 sop=%2 type=%3 size=%4x%5 channels=%6 bits=%7 frames=%8 thickness=%9 "
               "acquisition=%10 position=%11 orientation=%12 pixelSpacing=%13 spacingBetweenSlices=%14 "
               "protocol=%15 bodyPart=%16 manufacturer=%17 model=%18 location=%19")
        .arg(quoted(i.instanceNumberText), i.sopInstanceUid, quoted(i.imageType), i.width, i.height, i.channels,
             i.bitsAllocated, i.numberOfFrames, quoted(i.sliceThickness))
        .arg(acquisition, numbers(i.imagePosition), numbers(i.imageOrientation), numbers(i.pixelSpacing), between,
             quoted(i.protocolName), quoted(i.bodyPartExamined), quoted(i.manufacturer),
             quoted(i.manufacturerModelName))
        .arg(QString::fromStdString(i.location.string()));
}

void printTree(QTextStream& out, const std::vector<Dicom::Patient*>& patients)
{
    for (const Dicom::Patient* patient : patients) {
        // Unquoted fields (UIDs, modality, sizes) come from the files too.
        out << printable(patientLine(*patient)) << '\n';
        for (const Dicom::Study* study : patient->studies) {
            out << "  " << printable(studyLine(*study)) << '\n';
            for (const Dicom::Series* series : study->series) {
                out << "    " << printable(seriesLine(*series)) << '\n';
                for (const Dicom::Image* image : series->images)
                    out << "      " << printable(imageLine(*image)) << '\n';
            }
        }
    }
    out.flush();
}

}  // namespace Dravelin::Cli::TextFormat
