#include "host/app/AlgorithmControllerFactory.h"
#include "host/app/AlgorithmFactory.h"
#include "host/app/DataController.h"
#include "host/app/FactoryRegistry.h"
#include "host/app/IoAlgorithm.h"
#include "host/data/AnnotationModel.h"
#include "host/data/DataItemModel.h"
#include "host/data/DataModel.h"
#include "host/data/Mesh.h"
#include "host/data/SharedImageSet.h"
#include "host/ui/DataTreeWidget.h"
#include "host/ui/DisplayWidgetMulti.h"
#include "host/ui/HelpMenu.h"
#include "host/ui/MainWindowBase.h"
#include "tests/support/DataFixtures.h"
#include "tests/support/TestEnvironment.h"

#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace Dravelin;

namespace {

template <typename Self, typename Accepts>
bool createIf(const DataList& data, Algorithm** out, Accepts accepts)
{
    if (!accepts(data))
        return false;
    if (out)
        *out = new Self;
    return true;
}

struct ImageTool : Algorithm
{
    void compute() override {}
    static bool createCompatible(const DataList& d, Algorithm** out)
    {
        return createIf<ImageTool>(d, out,
                                   [](const DataList& l) { return !l.empty() && l.getImages().size() == l.size(); });
    }
};

struct MeshTool : Algorithm
{
    void compute() override {}
    static bool createCompatible(const DataList& d, Algorithm** out)
    {
        return createIf<MeshTool>(d, out, [](const DataList& l) { return l.size() == 1 && !l.getMeshes().empty(); });
    }
};

struct NoInputTool : Algorithm
{
    void compute() override {}
};

struct ImageWriter : IoAlgorithm
{
    static constexpr int kIoMode = IoAlgorithm::Write;
    ImageWriter() : IoAlgorithm(Write) {}
    void compute() override {}
    static bool createCompatible(const DataList& d, Algorithm** out)
    {
        return createIf<ImageWriter>(d, out, [](const DataList& l) { return l.size() == 1 && l.getImage(); });
    }
};

// Reads a text file holding one number into `repeat` one-voxel images of that value.
struct NumberReader : IoAlgorithm
{
    NumberReader() : IoAlgorithm(Read) {}
    Parameter<int> repeat{"repeat", 1, this};
    Parameter<QString> note{"note", "", this};  // what the reader had to change
    void compute() override
    {
        QFile file(location());
        bool ok = file.open(QIODevice::ReadOnly);
        const int value = QString::fromUtf8(file.readAll()).trimmed().toInt(&ok);
        setStatus(ok ? Success : FileNotFound);
        for (int i = 0; ok && i < repeat.value(); ++i) {
            auto image = std::make_unique<SharedImage>(PixelType::Int16, 1, 1);
            image->setValue(0, 0, 0, 0, value);
            auto set = std::make_unique<SharedImageSet>(std::move(image));
            set->setName(QStringLiteral("Number %1").arg(value));
            set->setNote(note.value());
            m_output.add(std::move(set));
        }
    }
    OwningDataList takeOutput() override { return std::move(m_output); }
    OwningDataList m_output;
};

// A data controller for single image sets: `live` counts the ones that exist.
struct SingleImagePanel : DataController
{
    static inline int live = 0;
    SingleImagePanel() { ++live; }
    ~SingleImagePanel() override { --live; }
    static bool createCompatible(const DataList& d, DataController** out)
    {
        if (d.size() != 1 || !d.getImage())
            return false;
        if (out)
            *out = new SingleImagePanel;
        return true;
    }
};

struct MainWindowFixture : ::testing::Test
{
    MainWindowFixture()
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
        auto factory = std::make_unique<AlgorithmFactory>(QStringLiteral("T"));
        factory->registerAlgorithm<ImageTool>("ImageTool", "Tools;Image Tool");
        factory->registerAlgorithm<MeshTool>("MeshTool", "Tools;Surface;Mesh Tool");
        factory->registerAlgorithm<NoInputTool>("NoInputTool", "New Thing");
        factory->registerAlgorithm<ImageWriter>("ImageWriter", "Image file");
        factory->registerAlgorithm<NumberReader>("NumberReader", "Number file");
        registry.addAlgorithmFactory(std::move(factory));
        auto controllers = std::make_unique<AlgorithmControllerFactory>(QStringLiteral("T"));
        controllers->registerDataController<SingleImagePanel>(QStringLiteral("T;SingleImagePanel"));
        registry.addControllerFactory(std::move(controllers));
        window = std::make_unique<MainWindowBase>(&registry);
    }
    Data* addImage(const QString& name)
    {
        return window->dataModel()->add(Dravelin::Test::imageSet(PixelType::UInt8, 4, 4, 4), name);
    }
    void waitForLoads()
    {
        QSignalSpy finished(window.get(), &MainWindowBase::loadsFinished);
        if (window->pendingLoads() > 0) {
            ASSERT_TRUE(finished.wait(30000));
        }
    }
    // Reads a file holding `number` with the test reader (with `param` set, if named); its path.
    QString loadNumber(const char* number, const char* param = nullptr, const QVariant& value = {})
    {
        const QString path = settingsDir.file("number.txt");
        EXPECT_TRUE(Dravelin::Test::writeFile(path, QByteArray(number) + "\n"));
        Properties config("Config");
        if (param)
            config.setParam(param, value);
        EXPECT_TRUE(window->loadLocation(path, "T.NumberReader", param ? &config : nullptr));
        waitForLoads();
        return path;
    }

    Dravelin::Test::TempDir settingsDir;
    FactoryRegistry registry;
    std::unique_ptr<MainWindowBase> window;
};

}  // namespace

TEST_F(MainWindowFixture, MenusOfferExactlyTheAlgorithmsThatAcceptTheSelection)
{
    Data* a = addImage("a");
    Data* b = addImage("b");
    Data* mesh = window->dataModel()->add(std::make_unique<Mesh>(), "surface");
    struct Case
    {
        DataList selection;
        QStringList algorithms, exports;
    };
    const Case cases[] = {
        {{}, {"T.NoInputTool"}, {}},   {{a}, {"T.ImageTool"}, {"T.ImageWriter"}},
        {{a, b}, {"T.ImageTool"}, {}}, {{mesh}, {"T.MeshTool"}, {}},
        {{a, mesh}, {}, {}},
    };
    for (const Case& c : cases) {
        window->setSelectedData(c.selection);
        EXPECT_EQ(window->enabledAlgorithms(), c.algorithms);
        EXPECT_EQ(window->enabledExports(), c.exports);
    }
    // Menu paths become nested menus; readers sit under File.
    QMenu* tools = nullptr;
    for (QAction* action : window->menuBar()->actions())
        if (action->menu() && action->menu()->title() == "Tools")
            tools = action->menu();
    ASSERT_NE(tools, nullptr);
    EXPECT_TRUE(tools->actions().contains(window->algorithmAction("T.ImageTool")));
    EXPECT_EQ(window->algorithmAction("T.MeshTool")->parent()->property("title").toString(), "Surface");
    EXPECT_TRUE(window->algorithmAction("T.NumberReader")->isEnabled());
}

TEST_F(MainWindowFixture, RecentFilesReopenWithTheirReaderAndConfiguration)
{
    const QString path = loadNumber("42", "repeat", 2);
    ASSERT_EQ(window->dataModel()->topLevelCount(), 2);

    window->dataModel()->clear();
    const auto recent = MainWindowBase::recentFiles();
    ASSERT_EQ(recent.size(), 1u);
    EXPECT_EQ(recent[0].path, path);
    // The entry is named after what it loaded; its location is the tool tip.
    QMenu* menu = window->findChild<QMenu*>();
    for (QMenu* m : window->findChildren<QMenu*>())
        if (m->title() == "Open &Recent")
            menu = m;
    ASSERT_TRUE(menu && menu->title() == "Open &Recent");
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().front()->text(), "&1 Number 42 and 1 more");
    EXPECT_EQ(menu->actions().front()->toolTip(), path);
    ASSERT_TRUE(window->openRecentFile(0));
    waitForLoads();
    const auto images = window->dataModel()->getAll(Data::KindImage);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(static_cast<SharedImageSet*>(images[0])->get()->value(0, 0), 42);
    // Opening again moves the entry to the front instead of adding one.
    EXPECT_EQ(MainWindowBase::recentFiles().size(), 1u);
    EXPECT_FALSE(window->openRecentFile(1));
}

// The toolbar's Window button offers the presets of the image on top, as a view's menu does.
TEST_F(MainWindowFixture, TheWindowButtonOffersThePresetsOfTheImageShown)
{
    auto* button = window->findChild<QToolButton*>("windowPresetsButton");
    ASSERT_TRUE(button && button->menu());
    QMenu* menu = button->menu();
    emit menu->aboutToShow();
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_FALSE(menu->actions().front()->isEnabled());

    loadNumber("42");
    emit menu->aboutToShow();
    QAction* automatic = nullptr;
    for (QAction* action : menu->actions())
        if (action->text().startsWith("Automatic"))
            automatic = action;
    ASSERT_TRUE(automatic);
    automatic->trigger();
    const auto images = window->dataModel()->getAll(Data::KindImage);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(window->displayWidget()->window(static_cast<SharedImageSet*>(images[0])).center, 42);
}

// What a reader changed (unevenly spaced slices resampled) stays in the status bar and the
// data tree's tool tip.
TEST_F(MainWindowFixture, ReaderNotesShowInTheStatusBarAndTheDataTree)
{
    loadNumber("7", "note", "resampled to 9 slices");
    EXPECT_TRUE(window->statusBar()->currentMessage().contains("resampled to 9 slices"))
        << window->statusBar()->currentMessage().toStdString();
    const DataItemModel* items = window->dataItemModel();
    EXPECT_TRUE(items->data(items->index(0, 0), Qt::ToolTipRole).toString().endsWith("\nresampled to 9 slices"));
}

// Several image sets from one load: the status bar says what came and which is shown; the data
// tree's current row is the one the views show, and a click on another shows that one.
TEST_F(MainWindowFixture, TheDataTreesCurrentImageSetIsTheOneTheViewsShow)
{
    const QString path = loadNumber("7", "repeat", 2);
    const QString said = window->statusBar()->currentMessage();
    EXPECT_TRUE(said.startsWith("Loaded 2 image sets; the views show ")) << said.toStdString();
    EXPECT_TRUE(said.endsWith(" from " + path)) << said.toStdString();

    const std::vector<Data*> images = window->dataModel()->getAll(Data::KindImage);
    ASSERT_EQ(images.size(), 2u);
    DataTreeWidget* tree = window->dataTree();
    EXPECT_EQ(DataItemModel::dataAt(tree->currentIndex()), images[0]);
    EXPECT_TRUE(window->displayWidget()->visibleData().contains(images[0]));

    tree->setSelectedData(DataList{images[1]});
    tree->setCurrentIndex(tree->selectionModel()->selectedRows(0).value(0));
    EXPECT_TRUE(window->displayWidget()->visibleData().contains(images[1]));
    EXPECT_FALSE(window->displayWidget()->visibleData().contains(images[0]));

    window->openPaths({settingsDir.file("missing")});
    EXPECT_EQ(window->statusBar()->currentMessage(), "No such file or folder: " + settingsDir.file("missing"));
}

// A label map shows in colour over the image it was made on instead of replacing it, and a data
// controller of single images stays when other data is loaded beside its image.
TEST_F(MainWindowFixture, LabelMapsJoinTheImageAndControllersKeepTheirItem)
{
    Data* ct = addImage("CT");
    QCoreApplication::processEvents();
    EXPECT_EQ(SingleImagePanel::live, 1);
    auto labels = Dravelin::Test::imageSet(PixelType::UInt16, 4, 4, 4);
    labels->setModality(Data::ModalityLabel);
    Data* labelMap = window->dataModel()->add(std::move(labels), "CT label map");
    QCoreApplication::processEvents();
    const DataList shown = window->displayWidget()->visibleData();
    EXPECT_TRUE(shown.contains(ct));
    EXPECT_TRUE(shown.contains(labelMap));
    EXPECT_EQ(window->displayWidget()->topImage(), ct);
    EXPECT_EQ(SingleImagePanel::live, 1);
    window->dataModel()->add(std::make_unique<Mesh>(), "surface");
    QCoreApplication::processEvents();
    EXPECT_EQ(SingleImagePanel::live, 1);
}

// Help comes last, after the menus the plug-ins add, and About names every library's version.
TEST_F(MainWindowFixture, HelpIsTheLastMenuAndAboutNamesTheLibraries)
{
    window->rebuildMenus();
    const QList<QAction*> menus = window->menuBar()->actions();
    ASSERT_FALSE(menus.isEmpty());
    EXPECT_EQ(menus.last()->menu()->objectName(), "helpMenu");
    EXPECT_EQ(menus.last()->menu()->actions().size(), 2);
    const QString about = HelpMenu::aboutText();
    for (const char* library : {"Qt 5.", "DCMTK 3.", "VTK 9.", "OpenJPEG 2."})
        EXPECT_TRUE(about.contains(QLatin1String(library))) << about.toStdString();
}
