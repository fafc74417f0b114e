#include "host/app/RawImageIoAlgorithm.h"
#include "host/data/SharedImageSet.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

using namespace Dravelin;

// Each way a raw file can fail to be an image ends in its own status and no output; a file
// that fits is read with the given or the guessed size.
TEST(RawImageIoAlgorithm, StatusAndSizeOfEachCase)
{
    Dravelin::Test::TempDir dir;
    const QString file = dir.file("ten.raw");
    ASSERT_TRUE(Dravelin::Test::writeFile(file, QByteArray(10, '\x07')));
    struct Case
    {
        const char* name;
        int mode;
        QString location;
        int type, width, height;
        int status;
        Eigen::Vector3i size;
    };
    const Case cases[] = {
        {"write", IoAlgorithm::Write, file, 0, 0, 1, Algorithm::InvalidInput, {}},
        {"missing file", IoAlgorithm::Read, dir.file("none.raw"), 0, 0, 1, Algorithm::FileNotFound, {}},
        {"unknown type", IoAlgorithm::Read, file, 99, 0, 1, Algorithm::InvalidInput, {}},
        {"size mismatch", IoAlgorithm::Read, file, 0, 3, 2, Algorithm::InvalidInput, {}},
        {"guessed width", IoAlgorithm::Read, file, 0, 0, 1, Algorithm::Success, {10, 1, 1}},
        {"given size", IoAlgorithm::Read, file, 0, 2, 5, Algorithm::Success, {2, 5, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RawImageIoAlgorithm reader(nullptr, c.mode);
        reader.setLocation(c.location);
        reader.pixelType.setValue(c.type);
        reader.width.setValue(c.width);
        reader.height.setValue(c.height);
        reader.compute();
        EXPECT_EQ(reader.status(), c.status);
        const OwningDataList output = reader.takeOutput();
        const auto images = output.getImages();
        ASSERT_EQ(images.size(), c.status == Algorithm::Success ? 1u : 0u);
        if (!images.empty()) {
            EXPECT_EQ(images[0]->get()->dimensions(), c.size);
        }
    }
}
