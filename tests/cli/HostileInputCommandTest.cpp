#include "tests/support/CliRun.h"
#include "tests/support/HostileData.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace T = Dravelin::Test;

namespace {

TEST(HostileInput, TreeNamesEachUnreadableFileAndNothingBlocksOnAFifo)
{
    T::TempDir dir;
    ASSERT_TRUE(T::writeFile(dir.file("deep.dcm"),
                             T::HostileData::nestedSequences(5650, T::HostileData::Nesting::ExplicitLittle)));
    ASSERT_TRUE(T::writeFile(dir.file("zeros.dcm"), QByteArray(1024, '\0')));
    ASSERT_EQ(::mkfifo(dir.file("fifo").toUtf8().constData(), 0600), 0);
    ASSERT_TRUE(QFile::copy(T::pydicomData("test_files/CT_small.dcm"), dir.file("ct.dcm")));

    const T::CliResult tree =
        T::runCli({"tree", dir.file("deep.dcm"), dir.file("zeros.dcm"), dir.file("fifo"), dir.file("ct.dcm")}, 30000);
    EXPECT_EQ(tree.exitCode, 1) << tree.err.toStdString();
    EXPECT_EQ(tree.out.count("Patient "), 1);
    const QString err = tree.err;
    EXPECT_TRUE(err.contains("deep.dcm: sequences nested more than 100 levels deep")) << err.toStdString();
    EXPECT_TRUE(err.contains("zeros.dcm: no DICOM element")) << err.toStdString();
    EXPECT_TRUE(err.contains("fifo: not a regular file")) << err.toStdString();

    const T::CliResult load = T::runCli({"load", dir.file("fifo")}, 30000);
    EXPECT_GT(load.exitCode, 0);
}

// A file whose name is not UTF-8 (a Latin-1 "café") is scanned, loaded and de-identified like any
// other; output and messages show the odd byte as \xE9.
TEST(HostileInput, FileNamesThatAreNotUtf8AreReadWrittenAndShownEscaped)
{
    T::TempDir in;
    T::TempDir out;
    const QString cafe = in.file(QFile::decodeName("caf\xe9.dcm"));
    const QString note = in.file(QFile::decodeName("note\xe9.txt"));
    ASSERT_TRUE(QFile::copy(T::pydicomData("test_files/CT_small.dcm"), cafe));
    ASSERT_TRUE(T::writeFile(note, "not DICOM"));
    const QString shownNote = in.path() + "/note\\xE9.txt";

    struct Case
    {
        QStringList args;
        QString inOut;
        QString inErr;
    };
    const Case cases[] = {
        {{"scan", in.path(), "--verbose"}, shownNote + ": not DICOM", ""},
        {{"scan", in.path(), "--location"}, "/caf%E9.dcm", ""},
        {{"load", cafe}, "Image set 1", ""},
        {{"load", note}, "", shownNote},
        {{"deidentify", in.path(), out.path()}, "1 files written", shownNote + ": not a DICOM file"},
    };
    for (const Case& c : cases) {
        const T::CliResult run = T::runCli(c.args, 60000);
        SCOPED_TRACE(c.args.join(' ').toStdString() + "\n" + run.out.toStdString() + run.err.toStdString());
        EXPECT_EQ(run.exitCode, c.args.contains(note) ? 2 : c.args.front() == "deidentify" ? 1 : 0);
        EXPECT_TRUE(run.out.contains(c.inOut));
        EXPECT_TRUE(run.err.contains(c.inErr));
        EXPECT_FALSE(run.out.contains(QChar::ReplacementCharacter) || run.err.contains(QChar::ReplacementCharacter));
    }
    EXPECT_TRUE(QFileInfo(out.path() + "/" + QFile::decodeName("caf\xe9.dcm")).isFile());
}

TEST(HostileInput, WebScanGivesUpOnATricklingServerAtItsTimeout)
{
    T::HttpTestServer server([](const T::HttpTestServer::Request&) {
        auto reply = T::HttpTestServer::json("[" + std::string(4000, ' ') + "]");
        reply.mode = T::HttpTestServer::Reply::Mode::Trickle;
        return reply;
    });
    const T::CliResult result = T::runCli({"web-scan", QString::fromStdString(server.url()), "--timeout", "1"}, 60000);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_TRUE(result.err.contains("did not answer in time")) << result.err.toStdString();
}

}  // namespace

namespace {

// An 8-bit RLE image of `rows` x `columns` declaring `frames` frames, with one fragment whose
// single segment starts at `offset` and holds 16 bytes.
QByteArray rleImage(int rows, int columns, const char* frames, quint32 offset)
{
    QByteArray fragment(64, '\0');
    fragment[0] = 1;
    for (int i = 0; i < 4; ++i)
        fragment[4 + i] = char((offset >> (8 * i)) & 0xFF);
    fragment += QByteArray::fromHex("f100f100f100f100f100f100f100f100");  // runs of 16 zeros
    const auto element = [](quint16 group, quint16 number, const char* vr, const QByteArray& value) {
        QByteArray e(4, '\0');
        e[0] = char(group & 0xFF), e[1] = char(group >> 8), e[2] = char(number & 0xFF), e[3] = char(number >> 8);
        return e + vr + char(value.size() & 0xFF) + char(value.size() >> 8) + value;
    };
    const auto us = [](int v) { return QByteArray(1, char(v & 0xFF)) + char((v >> 8) & 0xFF); };
    QByteArray frameText(frames);
    if (frameText.size() % 2)
        frameText += ' ';
    QByteArray item = QByteArray::fromHex("feff00e0") + QByteArray(4, '\0');  // empty offset table
    QByteArray fragmentItem = QByteArray::fromHex("feff00e0") + QByteArray(4, '\0') + fragment;
    fragmentItem[4] = char(fragment.size());
    const QByteArray data =
        element(0x0008, 0x0016, "UI", "1.2.840.10008.5.1.4.1.1.7") + element(0x0008, 0x0018, "UI", "1.2.3.4.5.6") +
        element(0x0010, 0x0010, "PN", "DOE^JOHN") + element(0x0020, 0x000E, "UI", "1.2.3.4.6") +
        element(0x0028, 0x0002, "US", us(1)) + element(0x0028, 0x0004, "CS", "MONOCHROME2 ") +
        element(0x0028, 0x0008, "IS", frameText) + element(0x0028, 0x0010, "US", us(rows)) +
        element(0x0028, 0x0011, "US", us(columns)) + element(0x0028, 0x0100, "US", us(8)) +
        element(0x0028, 0x0101, "US", us(8)) + element(0x0028, 0x0102, "US", us(7)) +
        element(0x0028, 0x0103, "US", us(0)) + QByteArray::fromHex("e07f1000") + "OB" + QByteArray(2, '\0') +
        QByteArray::fromHex("ffffffff") + item + fragmentItem + QByteArray::fromHex("feffdde000000000");
    return T::HostileData::withMeta("1.2.840.10008.1.2.5", data);
}

}  // namespace

// `load` of each hand-made RLE file under a 1 GiB address space: one line naming the file and the
// reason, exit 2; once a crash, a loop for minutes or gigabytes of memory.
TEST(HostileInput, LoadRefusesLyingPixelDataInOneLineWithinBoundedMemory)
{
    T::TempDir dir;
    struct Case
    {
        const char* file;
        QByteArray bytes;
        const char* reason;
    };
    const Case cases[] = {
        {"offset.dcm", rleImage(4, 4, "1", 0x7FFFFFF0), "an RLE segment offset outside the frame"},
        {"frames.dcm", rleImage(4, 4, "2147483647", 64), "2147483647 frames declared"},
        {"huge.dcm", rleImage(65535, 65535, "1", 64), "an RLE segment of 16 bytes, too short for 65535 x 65535"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(T::writeFile(dir.file(c.file), c.bytes));
        const T::CliResult r = T::runCliLimited({"load", dir.file(c.file)}, std::size_t(1) << 30, 60000);
        EXPECT_EQ(r.exitCode, 2) << c.file << ": " << r.err.toStdString();
        ASSERT_EQ(r.errLines().size(), 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(dir.file(c.file))) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(c.reason)) << r.err.toStdString();
    }
}

// Every command that reads files names each one it cannot read with the reason `tree` gives;
// `scan` and `deidentify` no longer call a refused file "truncated".
TEST(HostileInput, EveryCommandNamesTheFilesItCannotReadWithTheRealReason)
{
    T::TempDir dir, out;
    ASSERT_TRUE(QDir().mkpath(dir.file("in")));
    const QByteArray deep = T::HostileData::nestedSequences(5650, T::HostileData::Nesting::ExplicitLittle);
    ASSERT_TRUE(T::writeFile(dir.file("in/a.dcm"), deep));
    ASSERT_TRUE(T::writeFile(dir.file("in/b.dcm"), deep));
    const QString reason = "sequences nested more than 100 levels deep";
    const QString ct = T::pydicomData("test_files/CT_small.dcm");
    const QList<QStringList> commands = {{"load", dir.file("in")},
                                         {"convert", dir.file("in"), out.file("converted")},
                                         {"rt-labelmap", dir.file("in"), ct, out.file("labels.nrrd")}};
    for (const QStringList& args : commands) {
        const T::CliResult r = T::runCli(args);
        EXPECT_EQ(r.exitCode, 2) << args.front().toStdString() << ": " << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(dir.file("in/a.dcm") + "': " + reason)) << r.err.toStdString();
    }

    const T::CliResult scan = T::runCli({"scan", dir.file("in"), "--verbose"});
    EXPECT_TRUE(scan.out.contains("2 files skipped: 2 nested too deep")) << scan.out.toStdString();
    const T::CliResult deidentify = T::runCli({"deidentify", dir.file("in"), out.file("deid")});
    EXPECT_TRUE(deidentify.err.contains("a.dcm: " + reason)) << deidentify.err.toStdString();
}
