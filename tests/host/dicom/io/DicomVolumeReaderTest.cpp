#include "host/dicom/DatasetCache.h"
#include "host/dicom/io/DicomVolumeReader.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>

using namespace Dravelin;
using namespace Dravelin::Dicom;

namespace {

// Broken on purpose in the corpus: a fragment cut by an embedded delimiter (pydicom's handler
// hands out whatever its decoder left in memory), truncated pixel data, a data set in another
// encoding than its meta header declares. These must fail with an error naming the file.
const std::set<QString> kUndecodable = {"JPEG2000-embedded-sequence-delimiter.dcm", "MR_truncated.dcm",
                                        "SC_rgb_jpeg.dcm"};

QString pythonScript()
{
    return QStringLiteral(DRAVELIN_SOURCE_DIR "/tests/host/dicom/io/pydicom_pixels.py");
}

// Every pydicom sample file with pixel data, and what pydicom reads from it.
class PydicomCorpus : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_dir = new Dravelin::Test::TempDir;
        const QDir files(Dravelin::Test::pydicomData("test_files"));
        QStringList args{pythonScript(), s_dir->path()};
        for (const QString& name : files.entryList({"*.dcm"}, QDir::Files, QDir::Name))
            args << files.filePath(name);
        QProcess python;
        python.start("/usr/bin/python3", args);
        python.waitForFinished(-1);
    }
    static void TearDownTestSuite() { delete s_dir; }
    static std::vector<double> expected(const QString& name)
    {
        QFile f(s_dir->file(name + ".f64"));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        const QByteArray bytes = f.readAll();
        std::vector<double> values(std::size_t(bytes.size()) / sizeof(double));
        std::memcpy(values.data(), bytes.constData(), values.size() * sizeof(double));
        return values;
    }
    static inline Dravelin::Test::TempDir* s_dir = nullptr;
};

}  // namespace

// Lossy files included: both sides use IJG's decoder, so every value must match.
TEST_F(PydicomCorpus, EveryDecodableImageLoadsWithPydicomsValues)
{
    const QDir files(Dravelin::Test::pydicomData("test_files"));
    int compared = 0;
    for (const QString& name : files.entryList({"*.dcm"}, QDir::Files, QDir::Name)) {
        const std::vector<double> want = expected(name);
        SCOPED_TRACE(name.toStdString());
        DicomVolumeReader reader(std::make_shared<DatasetCache>(0));
        const auto sets = reader.read(files.filePath(name).toStdString(), nullptr);
        if (kUndecodable.count(name)) {
            EXPECT_TRUE(sets.empty());
            ASSERT_FALSE(reader.errors().empty());
            EXPECT_EQ(reader.errors().back().type, Error::Fatal);
            EXPECT_NE(reader.errors().back().message.find(name.toStdString()), std::string::npos);
            if (name == "SC_rgb_jpeg.dcm") {  // and why
                EXPECT_NE(reader.errors().back().message.find("implicit VR"), std::string::npos);
            }
            continue;
        }
        if (want.empty())
            continue;
        if (sets.size() != 1u) {
            ADD_FAILURE() << "image sets: " << sets.size();
            continue;
        }
        std::vector<double> got;
        for (const PixelVolume& v : sets.front().volumes)
            for (std::size_t i = 0; i < v.sampleCount(); ++i)
                got.push_back(v.value(i));
        if (got.size() != want.size()) {
            ADD_FAILURE() << "samples: " << got.size() << " instead of " << want.size();
            continue;
        }
        std::size_t differing = 0;
        for (std::size_t i = 0; i < got.size(); ++i)
            differing += std::abs(got[i] - want[i]) > std::abs(want[i]) * 1e-9 ? 1 : 0;
        EXPECT_EQ(differing, 0u);
        ++compared;
    }
    EXPECT_GE(compared, 45);
}
