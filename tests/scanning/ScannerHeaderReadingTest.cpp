// A folder scan reads most headers itself (RawHeader) and leaves the rest to DCMTK. Whatever it
// reads itself must give the records, log lines and skip reasons DCMTK gives.
#include "host/core/LogCapture.h"
#include "host/core/Url.h"
#include "host/dicom/RawHeader.h"
#include "scanning/Image.h"
#include "scanning/Patient.h"
#include "scanning/RecordElements.h"
#include "scanning/Scanner.h"
#include "scanning/Series.h"
#include "scanning/Study.h"
#include "tests/scanning/ScannerTestFiles.h"
#include "tests/support/HostileData.h"
#include "tests/support/TestEnvironment.h"

#include <QDirIterator>
#include <QFile>
#include <QtEndian>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcistrmb.h>

#include <gtest/gtest.h>

#include <functional>

using namespace Dravelin;
using namespace Dravelin::Dicom;
namespace T = Dravelin::Test;

namespace {

QString text(const QString& s)
{
    return s.isNull() ? "<null>" : "'" + s + "'";
}

template <typename Number>
QString numbers(const Number& values)
{
    QStringList out;
    for (const double v : values)
        out << QString::number(v, 'g', 17);
    return out.join(',');
}

QString optional(const std::optional<double>& v)
{
    return v ? QString::number(*v, 'g', 17) : "-";
}

QString optional(const std::optional<int>& v)
{
    return v ? QString::number(*v) : "-";
}

// Every field of every record, one line per record.
QString describe(const std::vector<Patient*>& patients)
{
    QStringList lines;
    for (const Patient* p : patients) {
        lines << "P " + text(p->patientId) + text(p->patientName) + text(p->sex) + p->birthDate.toString(Qt::ISODate) +
                     text(p->comment);
        for (const Study* st : p->studies) {
            lines << " S " + text(st->studyInstanceUid) + text(st->studyId) + st->studyTime.toString("HH:mm:ss.zzz") +
                         st->studyDate.toString(Qt::ISODate) + text(st->studyDescription);
            for (const Series* se : st->series) {
                const DimensionsInfo& d = se->estimatedDimensions;
                lines << "  R " + text(se->seriesInstanceUid) + text(se->sopClassUid) +
                             se->seriesTime.toString("HH:mm:ss.zzz") + se->seriesDate.toString(Qt::ISODate) +
                             text(se->seriesNumber) + text(se->seriesDescription) + text(se->imageType) +
                             text(se->modality) +
                             QString(" %1 %2x%3x%4 %5 %6")
                                 .arg(d.kind)
                                 .arg(d.width)
                                 .arg(d.height)
                                 .arg(d.slices)
                                 .arg(numbers(d.spacing))
                                 .arg(d.hasSpacing);
                for (const Image* i : se->images)
                    lines << "   I " + text(i->sopInstanceUid) + text(i->instanceNumberText) + text(i->imageType) +
                                 text(i->width) + text(i->height) + text(i->channels) + text(i->bitsAllocated) +
                                 text(i->numberOfFrames) + text(i->sliceThickness) + text(i->protocolName) +
                                 text(i->bodyPartExamined) + text(i->manufacturer) + text(i->manufacturerModelName) +
                                 " " + QString::fromStdString(i->location.string()) + " " + numbers(i->imagePosition) +
                                 " " + numbers(i->imageOrientation) + " " + numbers(i->pixelSpacing) + " " +
                                 optional(i->spacingBetweenSlices) + " " + optional(i->instanceNumber) + " " +
                                 optional(i->acquisitionNumber);
            }
        }
    }
    return lines.join('\n');
}

struct Outcome
{
    QString records;
    QStringList skipped;
    QStringList missing;  // the "Missing element" log lines, in order
};

Outcome scan(const QString& folder, bool direct)
{
    Outcome outcome;
    LogCapture log;
    Scanner scanner(nullptr);
    scanner.setNumberOfThreads(1);
    scanner.setReadsHeadersDirectly(direct);
    scanner.setSkippedFileHandler(
        [&](const QString& path, Scanner::SkipReason reason) { outcome.skipped << path + int(reason); });
    scanner.scanDirectory(folder, true, false, true);
    outcome.records = describe(scanner.patients());
    for (const Log::Entry& e : log.entries())
        if (e.message.rfind("Missing element", 0) == 0)
            outcome.missing << QString::fromStdString(e.message);
    return outcome;
}

// A small explicit VR little endian encoder for hand-made data sets.
struct Encoder
{
    QByteArray out;

    void element(quint16 group, quint16 element, const char* vr, const QByteArray& value, quint32 length)
    {
        char b[4];
        qToLittleEndian(group, b);
        qToLittleEndian(element, b + 2);
        out.append(b, 4).append(vr, 2);
        if (QByteArray("OB SQ UN UT").contains(QByteArray(vr, 2))) {
            qToLittleEndian(quint16(0), b);
            out.append(b, 2);
            qToLittleEndian(length, b);
            out.append(b, 4);
        } else {
            qToLittleEndian(quint16(length), b);
            out.append(b, 2);
        }
        out.append(value);
    }
    Encoder& add(quint16 group, quint16 elementNumber, const char* vr, const QByteArray& value)
    {
        element(group, elementNumber, vr, value, quint32(value.size()));
        return *this;
    }
};

// Sequences nested `levels` deep, each item holding a code value and the next sequence.
QByteArray nested(int levels, bool definedLength)
{
    QByteArray inner;
    for (int level = 0; level < levels; ++level) {
        Encoder item;
        item.add(0x0008, 0x0100, "SH", "CODE");
        item.out.append(inner);
        QByteArray itemBytes = QByteArray::fromHex("FEFF00E0");
        char b[4];
        qToLittleEndian(definedLength ? quint32(item.out.size()) : 0xFFFFFFFFu, b);
        itemBytes.append(b, 4).append(item.out);
        if (!definedLength)
            itemBytes.append(QByteArray::fromHex("FEFF0DE000000000"));
        Encoder sequence;
        if (definedLength) {
            sequence.element(0x0040, 0xA730, "SQ", itemBytes, quint32(itemBytes.size()));
        } else {
            sequence.element(0x0040, 0xA730, "SQ", itemBytes + QByteArray::fromHex("FEFFDDE000000000"), 0xFFFFFFFFu);
        }
        inner = sequence.out;
    }
    return inner;
}

// The encoded values (padding included) of a data set of the common elements.
struct Values
{
    QByteArray charset;
    QByteArray imageType = "ORIGINAL\\PRIMARY";
    QByteArray modality = "MR";
    QByteArray patientName = "DOE^JANE";
    QByteArray sopUid = QByteArray("1.2.3.4.9\0", 10);
    QByteArray spacing = "0.5\\0.25";
    QByteArray tail;  // after the ascending elements, before the pixel data
};

QByteArray dataset(const Values& v)
{
    Encoder e;
    if (!v.charset.isEmpty())
        e.add(0x0008, 0x0005, "CS", v.charset);
    e.add(0x0008, 0x0008, "CS", v.imageType)
        .add(0x0008, 0x0016, "UI", QByteArray("1.2.840.10008.5.1.4.1.1.7\0", 26))
        .add(0x0008, 0x0018, "UI", v.sopUid)
        .add(0x0008, 0x0060, "CS", v.modality)
        .add(0x0010, 0x0010, "PN", v.patientName)
        .add(0x0010, 0x0020, "LO", "ID42")
        .add(0x0020, 0x000D, "UI", QByteArray("1.2.3.4.5.6\0", 12))
        .add(0x0020, 0x000E, "UI", QByteArray("1.2.3.4.5.6.7.8\0", 16))
        .add(0x0020, 0x0013, "IS", "12")
        .add(0x0028, 0x0010, "US", QByteArray("\x00\x02", 2))
        .add(0x0028, 0x0030, "DS", v.spacing);
    e.out.append(v.tail);
    e.add(0x7FE0, 0x0010, "OB", QByteArray(4, '\0'));
    return T::HostileData::withMeta("1.2.840.10008.1.2.1", e.out);
}

// The common data set with one change.
QByteArray variant(const std::function<void(Values&)>& change)
{
    Values v;
    change(v);
    return dataset(v);
}

// A copy of a generated file with implicit VR little endian, through DCMTK.
bool writeImplicit(const QString& from, const QString& to)
{
    DcmFileFormat file;
    return file.loadFile(from.toUtf8().constData()).good() &&
           file.saveFile(to.toUtf8().constData(), EXS_LittleEndianImplicit).good();
}

}  // namespace

// The pydicom corpus, a generated set (also in implicit VR, and cut short at many places) and
// hand-made oddities: each file scanned on its own gives the same records whether the scanner
// reads its header itself or DCMTK does.
TEST(ScannerHeaderReading, GivesWhatDcmtkGivesForEveryFile)
{
    T::TempDir data;
    ASSERT_TRUE(T::runGenerator({"sample", data.file("sample")}));
    const QString generated = data.file("sample/img7");
    ASSERT_TRUE(writeImplicit(generated, data.file("implicit.dcm")));
    ASSERT_TRUE(writeImplicit(data.file("sample/img1"), data.file("implicit1.dcm")));
    const QByteArray bytes = T::readFile(generated);
    ASSERT_GT(bytes.size(), 2000);
    for (int cut = 100; cut < 1600; cut += 61)
        ASSERT_TRUE(T::writeFile(data.file(QString("cut%1.dcm").arg(cut)), bytes.left(cut)));

    const std::vector<std::pair<const char*, QByteArray>> handMade = {
        {"plain", variant([](Values&) {})},
        {"leading-space", variant([](Values& v) { v.patientName = " DOE^JANE "; })},
        {"code-leading-space", variant([](Values& v) { v.modality = " MR "; })},
        {"decimal-spaces", variant([](Values& v) { v.spacing = " 0.5 \\0.25"; })},
        {"nul-padding", variant([](Values& v) { v.modality = QByteArray("MR\0\0", 4); })},
        {"uid-space", variant([](Values& v) { v.sopUid = "1.2.3.4.9 "; })},
        {"uid-inner-space", variant([](Values& v) { v.sopUid = "1.2 .3.4.9"; })},
        {"spaced-values", variant([](Values& v) { v.patientName = "DOE ^JANE\\X "; })},
        {"spaced-codes", variant([](Values& v) { v.imageType = "ORIGINAL \\ PRIMARY"; })},
        {"odd-length", variant([](Values& v) { v.patientName = "DOE^JAN"; })},
        {"odd-values", variant([](Values& v) { v.imageType = "A\\B\\C"; })},
        {"latin1", variant([](Values& v) { v.patientName = "M\xfcller^J", v.charset = "ISO_IR 100"; })},
        {"ascii-latin1", variant([](Values& v) { v.patientName = "Muller^J", v.charset = "ISO_IR 100"; })},
        {"iso2022", variant([](Values& v) { v.patientName = "Yamada^Taro ", v.charset = "\\ISO 2022 IR 87 "; })},
        {"utf8", variant([](Values& v) { v.patientName = "M\xc3\xbcller^Jo", v.charset = "ISO_IR 192"; })},
        {"nested", variant([](Values& v) { v.tail = nested(6, false); })},
        {"nested-defined", variant([](Values& v) { v.tail = nested(6, true); })},
        {"nested-deeper", variant([](Values& v) { v.tail = nested(9, false); })},
        {"nested-too-deep", variant([](Values& v) { v.tail = nested(120, false); })},
        {"unordered", variant([](Values& v) { v.tail = Encoder().add(0x0010, 0x0030, "DA", "19700101").out; })},
        {"unknown-vr", variant([](Values& v) { v.tail = Encoder().add(0x0029, 0x1010, "UN", "xy").out; })},
        {"past-the-end", variant([](Values&) {}).left(400) + QByteArray(2, 'x')},
        {"deep-hostile", T::HostileData::nestedSequences(5650, T::HostileData::Nesting::ExplicitLittle)},
        {"defined-hostile", T::HostileData::nestedSequences(300, T::HostileData::Nesting::DefinedLength)},
    };
    for (const auto& [name, content] : handMade)
        ASSERT_TRUE(T::writeFile(data.file(QString(name) + ".dcm"), content));

    QStringList files;
    for (const QString& root : {data.path(), T::pydicomData()}) {
        QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
    }
    files.sort();
    ASSERT_GT(files.size(), 200);

    int readDirectly = 0;
    RawHeader header(RecordElements::rawFields());
    for (const QString& file : files) {
        SCOPED_TRACE(file.toStdString());
        const QByteArray content = T::readFile(file);
        readDirectly +=
            header.parse(content.constData(), std::size_t(content.size()), true) == RawHeader::Result::Parsed;
        T::TempDir folder;
        ASSERT_TRUE(QFile::link(file, folder.file("f")));
        const Outcome fast = scan(folder.path(), true);
        const Outcome dcmtk = scan(folder.path(), false);
        EXPECT_EQ(fast.records, dcmtk.records);
        EXPECT_EQ(fast.skipped, dcmtk.skipped);
        EXPECT_EQ(fast.missing, dcmtk.missing);
    }
    // All at once: records met before are copied (their missing elements logged again).
    const Outcome fast = scan(data.path(), true);
    const Outcome dcmtk = scan(data.path(), false);
    EXPECT_EQ(fast.records, dcmtk.records);
    EXPECT_EQ(fast.skipped, dcmtk.skipped);
    EXPECT_EQ(fast.missing, dcmtk.missing);
    EXPECT_FALSE(fast.missing.isEmpty());

    // A file the direct reader finds cut short is skipped without DCMTK: DCMTK must refuse it
    // too, wherever the cut falls.
    for (const QByteArray& whole : {bytes, T::readFile(data.file("implicit.dcm"))}) {
        int truncated = 0;
        for (int cut = 132; cut < 1600; ++cut) {
            if (header.parse(whole.constData(), std::size_t(cut), true) != RawHeader::Result::Truncated)
                continue;
            ++truncated;
            DcmInputBufferStream stream;
            stream.setBuffer(whole.constData(), cut);
            stream.setEos();
            DcmFileFormat file;
            file.transferInit();
            EXPECT_TRUE(file.readUntilTag(stream, EXS_Unknown, EGL_noChange, 0xFFFFFFFEu, DCM_PixelData).bad())
                << "cut at " << cut;
        }
        EXPECT_GT(truncated, 1000);
    }

    // Not a comparison of two DCMTK reads: the generated files, most of the oddities and a good
    // part of the corpus are read without DCMTK.
    EXPECT_GT(readDirectly, 100);
}
