#include "browser/widgets/ShowDicomTags.h"
#include "browser/widgets/TagsWidget.h"
#include "host/core/Url.h"
#include "host/data/DataSourceComponent.h"
#include "host/data/Mesh.h"
#include "host/data/SharedImageSet.h"
#include "host/dicom/components/TagStoreDataComponent.h"
#include "tests/support/DataFixtures.h"
#include "tests/support/TestEnvironment.h"

#include <QComboBox>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <gtest/gtest.h>

using namespace Dravelin;
namespace T = Dravelin::Test;

namespace {

std::unique_ptr<SharedImageSet> imageSet(const QString& filename)
{
    auto set = T::imageSet(PixelType::UInt8, 4, 4, 5);
    if (!filename.isNull())
        set->ensureProperties().setParam("filename", filename);
    return set;
}

std::vector<std::shared_ptr<DcmDataset>> frames(int count, const char* series)
{
    std::vector<std::shared_ptr<DcmDataset>> datasets;
    for (int k = 0; k < count; ++k) {
        auto ds = std::make_shared<DcmDataset>();
        ds->putAndInsertString(DCM_SeriesInstanceUID, series);
        ds->putAndInsertString(DCM_InstanceNumber, std::to_string(k + 1).c_str());
        datasets.push_back(ds);
    }
    return datasets;
}

}  // namespace

TEST(ShowDicomTags, AcceptsOnlyOneImageSetFromDicom)
{
    auto fromStore = imageSet("/data/a.dcm");
    fromStore->addComponent(std::make_unique<Dicom::TagStoreDataComponent>(frames(1, "1.2")));
    auto fromReader = imageSet("/data/b.dcm");
    fromReader->addComponent(std::make_unique<DataSourceComponent>(
        std::vector<DataSourceComponent::Source>{{"/data/b.dcm", "DICOM reader (DICOM Folder)"}}));
    auto noFilename = imageSet(QString());
    noFilename->addComponent(std::make_unique<Dicom::TagStoreDataComponent>(frames(1, "1.2")));
    auto otherReader = imageSet("/data/c.nii");
    otherReader->addComponent(std::make_unique<DataSourceComponent>(
        std::vector<DataSourceComponent::Source>{{"/data/c.nii", "NIfTI reader"}}));
    auto bare = imageSet("/data/d.dcm");
    Mesh mesh;

    const std::vector<std::pair<DataList, bool>> cases = {
        {{fromStore.get()}, true},
        {{fromReader.get()}, true},
        {{noFilename.get()}, false},
        {{otherReader.get()}, false},
        {{bare.get()}, false},
        {{&mesh}, false},
        {{fromStore.get(), fromReader.get()}, false},
        {{}, false},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        Algorithm* created = nullptr;
        EXPECT_EQ(ShowDicomTags::createCompatible(cases[i].first, &created), cases[i].second) << i;
        EXPECT_EQ(created != nullptr, cases[i].second) << i;
        delete created;
    }
}

TEST(ShowDicomTags, SourceSwitchKeepsTheFrame)
{
    // The origin: five files of one series next to a file of another series.
    T::TempDir dir;
    const auto onDisk = frames(5, "1.2.3");
    for (std::size_t k = 0; k < onDisk.size(); ++k) {
        DcmFileFormat file(onDisk[k].get());
        file.getDataset()->putAndInsertString(DCM_PatientName, "From^File");
        file.getDataset()->putAndInsertString(DCM_SOPClassUID, UID_SecondaryCaptureImageStorage);
        file.getDataset()->putAndInsertString(DCM_SOPInstanceUID, ("1.2.3.4." + std::to_string(k)).c_str());
        ASSERT_TRUE(
            file.saveFile(dir.file(QString("f%1.dcm").arg(k)).toStdString().c_str(), EXS_LittleEndianExplicit).good());
    }
    DcmFileFormat other(frames(1, "9.9").front().get());
    ASSERT_TRUE(other.saveFile(dir.file("other.dcm").toStdString().c_str(), EXS_LittleEndianExplicit).good());
    Filesystem::Url location = Filesystem::Url::fromLocalFile(dir.path());
    location.appendSubquery("series", "1.2.3");

    auto set = imageSet(QString::fromStdString(location.string()));
    set->addComponent(std::make_unique<Dicom::TagStoreDataComponent>(frames(5, "1.2.3")));
    Algorithm* created = nullptr;
    ASSERT_TRUE(ShowDicomTags::createCompatible({set.get()}, &created));
    auto* algorithm = static_cast<ShowDicomTags*>(created);
    ShowDicomTagsController controller(algorithm);
    controller.init();
    ASSERT_NE(controller.sourceComboBox(), nullptr);
    controller.tagsWidget()->setCurrentFrame(3);
    controller.sourceComboBox()->setCurrentIndex(1);
    ASSERT_EQ(algorithm->datasets().size(), 5u);
    EXPECT_EQ(controller.tagsWidget()->currentFrame(), 3);
    OFString name;
    algorithm->datasets()[3]->findAndGetOFString(DCM_PatientName, name);
    EXPECT_EQ(name, "From^File");

    controller.sourceComboBox()->setCurrentIndex(0);
    EXPECT_EQ(controller.tagsWidget()->currentFrame(), 3);
    delete algorithm;
}
