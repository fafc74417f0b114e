#include "host/data/AnnotationModel.h"
#include "host/data/DataAnnotation.h"
#include "host/data/DataDisplay.h"
#include "host/data/DataDisplayModel.h"
#include "host/data/DataGroup.h"
#include "host/data/DataItemModel.h"
#include "host/data/DataModel.h"
#include "host/data/PointCloud.h"
#include "host/data/SharedImageSet.h"
#include "tests/support/DataFixtures.h"
#include "tests/support/TestApplication.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace Dravelin;

namespace {

std::unique_ptr<Data> image(const QString& name)
{
    return Test::imageSet(PixelType::UInt8, 2, 2, 1, name);
}

std::unique_ptr<DataGroup> structureSet(const QString& name, int regions)
{
    auto group = std::make_unique<DataGroup>();
    group->setName(name);
    for (int i = 0; i < regions; ++i) {
        auto cloud = std::make_unique<PointCloud>(std::vector<Eigen::Vector3d>{{0, 0, double(i)}});
        cloud->setName("ROI");
        group->add(std::move(cloud));
    }
    return group;
}

struct Annot : DataAnnotation
{
    using DataAnnotation::DataAnnotation;
    QString typeName() const override { return "Test"; }
};

}  // namespace

TEST(DataModelTest, NamesStayUniqueAcrossGroupsAndRenames)
{
    DataModel model;
    Data* a = model.add(image("CT"));
    Data* b = model.add(image("CT"));
    Data* c = model.add(image(""), "CT");
    auto* group = static_cast<DataGroup*>(model.add(structureSet("RTSTRUCT", 2)));
    Data* unnamed = model.add(image(""));
    EXPECT_EQ(a->name(), "CT");
    EXPECT_EQ(b->name(), "CT (2)");
    EXPECT_EQ(c->name(), "CT (3)");
    EXPECT_EQ(group->child(0)->name(), "ROI");
    EXPECT_EQ(group->child(1)->name(), "ROI (2)");
    EXPECT_EQ(unnamed->name(), "Image");

    // Renaming onto a used name gets a suffix; renaming to its own name keeps it.
    EXPECT_EQ(model.rename(group->child(1), "CT"), "CT (4)");
    EXPECT_EQ(model.rename(a, "CT"), "CT");
    model.remove(b);
    EXPECT_EQ(model.add(image("CT"))->name(), "CT (2)");

    EXPECT_EQ(model.get("CT (4)"), group->child(1));
    EXPECT_EQ(model.get("nothing"), nullptr);
    EXPECT_EQ(model.getAll().size(), 7u);
    EXPECT_EQ(model.getAll(Data::KindPointCloud).size(), 2u);
    // A group that is not in the model is refused.
    DataGroup foreign;
    EXPECT_EQ(model.add(image("x"), QString(), &foreign), nullptr);
}

TEST(DataModelTest, SignalsCoverEveryItemInOrderAndTheItemModelStaysConsistent)
{
    DataModel model;
    DataItemModel items(&model);
    QAbstractItemModelTester tester(&items, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy added(&model, &DataModel::dataAdded);
    QSignalSpy aboutToRemove(&model, &DataModel::dataAboutToBeRemoved);
    QSignalSpy removed(&model, &DataModel::dataRemoved);
    QSignalSpy changed(&model, &DataModel::dataChanged);

    Data* ct = model.add(image("CT"));
    auto* group = static_cast<DataGroup*>(model.add(structureSet("RS", 2)));
    Data* extra = model.add(image("late"), QString(), group);
    ASSERT_EQ(added.count(), 5);
    EXPECT_EQ(added[1][0].value<Data*>(), group);  // parents before children
    EXPECT_EQ(added[2][0].value<Data*>(), group->child(0));
    EXPECT_EQ(items.rowCount(items.indexOf(group)), 3);
    EXPECT_EQ(DataItemModel::dataAt(items.index(2, 1, items.indexOf(group))), extra);
    EXPECT_EQ(items.index(1, 0).data(DataItemModel::DataRole).value<Data*>(), group);

    // Renaming through the item model goes through the uniqueness rule; only names can be edited.
    EXPECT_TRUE(items.flags(items.indexOf(extra)) & Qt::ItemIsEditable);
    EXPECT_FALSE(items.flags(items.index(0, 1)) & Qt::ItemIsEditable);
    EXPECT_TRUE(items.setData(items.indexOf(extra), "CT"));
    EXPECT_EQ(extra->name(), "CT (2)");
    const int changesAfterRename = changed.count();
    ct->notifyChanged();
    EXPECT_EQ(changed.count(), changesAfterRename + 1);

    Data* firstRoi = group->child(0);
    EXPECT_TRUE(model.remove(group));
    ASSERT_EQ(aboutToRemove.count(), 4);
    EXPECT_EQ(aboutToRemove[0][0].value<Data*>(), extra);  // children before parents
    EXPECT_EQ(aboutToRemove[3][0].value<Data*>(), group);
    EXPECT_EQ(removed.count(), 4);
    EXPECT_FALSE(model.contains(firstRoi));
    EXPECT_EQ(items.rowCount(), 1);
    EXPECT_FALSE(model.remove(group));

    // A taken item is no longer watched.
    std::unique_ptr<Data> taken = model.take(ct);
    ASSERT_EQ(taken.get(), ct);
    const int changes = changed.count();
    taken->notifyChanged();
    EXPECT_EQ(changed.count(), changes);
}

TEST(DataModelTest, DisplayCheckBoxesFollowVisibilityAndAnnotationsLeaveWithTheirData)
{
    DataModel model;
    DataItemModel items(&model);
    Dravelin::Test::TestDisplay display;
    DataDisplayModel visible(&items, &display);
    AnnotationModel annotations(&model);

    Data* ct = model.add(image("CT"));
    auto* group = static_cast<DataGroup*>(model.add(structureSet("RS", 2)));
    const QModelIndex groupRow = visible.index(1, 0);
    EXPECT_EQ(visible.data(groupRow, Qt::CheckStateRole).toInt(), Qt::Unchecked);
    visible.setData(visible.index(0, 0, groupRow), Qt::Checked, Qt::CheckStateRole);
    EXPECT_TRUE(display.visible.contains(group->child(0)));
    EXPECT_EQ(visible.data(groupRow, Qt::CheckStateRole).toInt(), Qt::PartiallyChecked);
    visible.setData(groupRow, Qt::Checked, Qt::CheckStateRole);
    EXPECT_EQ(display.visible.size(), 2u);
    display.setVisibleData({ct});
    EXPECT_EQ(visible.data(visible.index(0, 0), Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_EQ(visible.data(groupRow, Qt::CheckStateRole).toInt(), Qt::Unchecked);

    Data* roi = group->child(1);
    InteractiveObject* drawn = annotations.add(std::make_unique<Annot>(roi), ct, -1);
    InteractiveObject* first = annotations.add(std::make_unique<Annot>(nullptr), nullptr, 0);
    annotations.add(std::make_unique<Annot>(nullptr), ct, -1);
    EXPECT_EQ(annotations.at(0), first);
    EXPECT_EQ(annotations.getDataAnnotation(roi), drawn);
    EXPECT_EQ(annotations.getParentDataset(drawn), ct);
    EXPECT_EQ(annotations.getDataAnnotation(group->child(0)), nullptr);

    // Removing the drawn item removes its annotation; removing the parent removes the rest.
    model.remove(group);
    EXPECT_EQ(annotations.size(), 2);
    model.remove(ct);
    EXPECT_EQ(annotations.objects(), std::vector<InteractiveObject*>{first});
}
