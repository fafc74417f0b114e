#include "host/ui/MainWindowBase.h"

#include "host/app/Algorithm.h"
#include "host/app/AlgorithmController.h"
#include "host/app/DataController.h"
#include "host/app/DefaultControllerDecorator.h"
#include "host/app/FactoryRegistry.h"
#include "host/app/IoAlgorithm.h"
#include "host/app/IoController.h"
#include "host/properties/PropertiesIO.h"
#include "host/core/Log.h"
#include "host/core/Progress.h"
#include "host/data/AnnotationModel.h"
#include "host/data/DataAnnotation.h"
#include "host/data/DataGroup.h"
#include "host/data/DataItemModel.h"
#include "host/data/DataModel.h"
#include "host/data/SharedImageSet.h"
#include "host/ui/AnnotationWidget.h"
#include "host/ui/DataTreeWidget.h"
#include "host/ui/DisplayWidgetMulti.h"
#include "host/ui/HelpMenu.h"
#include "host/ui/ProgressWidget.h"
#include "host/ui/SettingsDialog.h"
#include "host/ui/SliceView.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QDockWidget>
#include <QFileDialog>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QScrollArea>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent>

namespace Dravelin {

namespace {

const char* kRecentKey = "recentFiles";

// Every item of `items` and of their groups, parents first.
std::vector<Data*> withDescendants(const std::vector<Data*>& items)
{
    std::vector<Data*> all;
    for (Data* item : items) {
        all.push_back(item);
        if (auto* group = dynamic_cast<DataGroup*>(item))
            for (Data* child : group->descendants())
                all.push_back(child);
    }
    return all;
}

// What the readers had to change in the image sets among `items` (their notes), for the user.
QString notesOf(const std::vector<Data*>& items)
{
    QStringList notes;
    for (Data* data : withDescendants(items))
        if (const auto* set = dynamic_cast<const SharedImageSet*>(data); set && !set->note().isEmpty())
            notes << set->name() + ": " + set->note();
    return notes.join(QStringLiteral("; "));
}

}  // namespace

struct MainWindowBase::Running
{
    std::unique_ptr<Algorithm> algorithm;
    std::unique_ptr<AlgorithmController> controller;
    QPointer<ControllerDecorator> decorator;
    bool closed = false;
};

MainWindowBase::MainWindowBase(FactoryRegistry* registry, QWidget* parent)
    : QMainWindow(parent), m_registry(registry ? registry : &FactoryRegistry::global())
{
    setObjectName(QStringLiteral("mainWindow"));
    // Docks that come and go with running tasks should not slide the views about.
    setAnimated(false);
    setWindowTitle(QApplication::applicationDisplayName().isEmpty() ? tr("Dravelin")
                                                                    : QApplication::applicationDisplayName());
    m_dataModel = new DataModel(this);
    m_itemModel = new DataItemModel(m_dataModel, this);
    m_annotationModel = new AnnotationModel(m_dataModel, this);

    m_display = new DisplayWidgetMulti(this);
    m_display->setMinimumSize(400, 300);
    m_display->setAnnotationModel(m_annotationModel);
    setCentralWidget(m_display);

    buildViewToolBar();

    m_tree = new DataTreeWidget(m_itemModel, m_display, this);
    auto* dataDock = new QDockWidget(tr("Data"), this);
    dataDock->setObjectName(QStringLiteral("dataDock"));
    dataDock->setWidget(m_tree);
    addDockWidget(Qt::LeftDockWidgetArea, dataDock);

    auto* controllerHost = new QWidget;
    m_controllerLayout = new QVBoxLayout(controllerHost);
    m_controllerLayout->setContentsMargins(2, 2, 2, 2);
    m_controllerLayout->addStretch(1);
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setWidget(controllerHost);
    m_controllerDock = new QDockWidget(tr("Tools"), this);
    m_controllerDock->setObjectName(QStringLiteral("controllerDock"));
    m_controllerDock->setWidget(scroll);
    addDockWidget(Qt::LeftDockWidgetArea, m_controllerDock);
    m_controllerDock->hide();

    m_annotations = new AnnotationWidget(m_annotationModel, this);
    m_annotationDock = new QDockWidget(tr("Annotations"), this);
    m_annotationDock->setObjectName(QStringLiteral("annotationDock"));
    m_annotationDock->setWidget(m_annotations);
    addDockWidget(Qt::LeftDockWidgetArea, m_annotationDock);
    m_annotationDock->hide();

    m_progress = new ProgressWidget(this);
    auto* progressDock = new QDockWidget(tr("Progress"), this);
    progressDock->setObjectName(QStringLiteral("progressDock"));
    progressDock->setWidget(m_progress);
    addDockWidget(Qt::BottomDockWidgetArea, progressDock);
    // The progress dock appears while something runs.
    progressDock->hide();
    connect(m_progress, &ProgressWidget::taskCountChanged, progressDock,
            [progressDock](int count) { progressDock->setVisible(count > 0); });

    m_hover = new QLabel(this);
    m_hover->setObjectName(QStringLiteral("voxelValue"));
    statusBar()->addPermanentWidget(m_hover);
    connect(m_display, &DisplayWidgetMulti::hoverTextChanged, m_hover, &QLabel::setText);

    // Data leaves the views before it is deleted.
    connect(m_dataModel, &DataModel::dataAboutToBeRemoved, this, [this](Data* data) {
        m_display->setVisible(data, false);
        for (auto& dc : m_dataControllers)
            dc->onDataDeleted(data);
    });
    connect(m_dataModel, &DataModel::dataRemoved, this, [this] { updateDataControllers(); });
    // Data that controllers add (a DICOM browser's series, a conversion's result) is shown like
    // the application's own loads, once the adding is over.
    connect(m_dataModel, &DataModel::dataAdded, this, [this](Data* data) {
        if (m_newData.empty())
            QTimer::singleShot(0, this, [this] {
                if (m_newData.empty())
                    return;
                std::vector<Data*> added;
                for (Data* d : std::exchange(m_newData, {}))
                    if (m_dataModel->contains(d))
                        added.push_back(d);
                showNewData(added);
            });
        m_newData.push_back(data);
    });
    connect(m_dataModel, &DataModel::dataChanged, m_display, &DisplayWidgetMulti::refresh);
    connect(m_tree, &DataTreeWidget::selectedDataChanged, this, [this] {
        updateActions();
        emit selectedDataChanged();
    });
    // Several series loaded: the one the user clicks is the one the views show.
    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& current) {
        if (Data* data = DataItemModel::dataAt(current); dynamic_cast<SharedImageSet*>(data))
            showImageSet(data);
    });
    setAcceptDrops(true);

    buildStaticMenus();
    rebuildMenus();

    QSettings settings;
    if (!restoreGeometry(settings.value(QStringLiteral("MainWindow/geometry")).toByteArray()))
        resize(1280, 860);
    if (!restoreState(settings.value(QStringLiteral("MainWindow/state")).toByteArray()))
        resizeDocks({dataDock}, {330}, Qt::Horizontal);
    m_progress->parentWidget()->hide();
}

MainWindowBase::~MainWindowBase()
{
    // Controllers first: they may still talk to the models and the display.
    m_dataControllers.clear();
    for (auto& running : m_running) {
        running->controller.reset();
        delete running->decorator;
    }
    m_running.clear();
    // The tree's check boxes listen to the display: they go first.
    delete m_tree;
    m_display->setVisibleData(DataList());
}

DataDisplay* MainWindowBase::display() const
{
    return m_display;
}

Progress* MainWindowBase::progress() const
{
    return m_progress;
}

void MainWindowBase::buildViewToolBar()
{
    QToolBar* bar = addToolBar(tr("View"));
    bar->setObjectName(QStringLiteral("viewToolBar"));
    // The same window presets as a view's context menu, for the image on top.
    auto* presets = new QToolButton(bar);
    presets->setObjectName(QStringLiteral("windowPresetsButton"));
    presets->setText(tr("Window"));
    presets->setToolTip(tr("Window/level presets for the image shown"));
    presets->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(presets);
    connect(menu, &QMenu::aboutToShow, this, [this, menu] {
        menu->clear();
        m_display->sliceView(SliceView::Axial)->addWindowPresets(*menu);
        if (menu->isEmpty())
            menu->addAction(tr("No image shown"))->setEnabled(false);
    });
    presets->setMenu(menu);
    bar->addWidget(presets);
    QAction* reset = bar->addAction(tr("Reset Views"), m_display, &DisplayWidgetMulti::resetViews);
    reset->setToolTip(tr("Fit every view to the data again (R in a view)"));
}

void MainWindowBase::buildStaticMenus()
{
    m_fileMenu = menuBar()->addMenu(tr("&File"));
    m_fileMenu->setObjectName(QStringLiteral("fileMenu"));
    m_openMenu = m_fileMenu->addMenu(tr("&Open"));
    m_recentMenu = m_fileMenu->addMenu(tr("Open &Recent"));
    m_exportMenu = m_fileMenu->addMenu(tr("&Export"));
    m_fileMenu->addSeparator();
    m_fileMenu->addAction(tr("&Settings..."), this, [this] {
        SettingsDialog dialog(this);
        dialog.exec();
    });
    m_fileMenu->addAction(tr("Show &Annotations"), this, [this] { showAnnotationWidget(true); });
    m_fileMenuEnd = m_fileMenu->addSeparator();
    m_fileMenu->addAction(tr("&Quit"), this, &QWidget::close, QKeySequence::Quit);
    connect(m_fileMenu, &QMenu::aboutToShow, this, &MainWindowBase::updateActions);
    rebuildRecentMenu();
}

QMenu* MainWindowBase::menuForPath(const QStringList& path)
{
    QMenu* menu = nullptr;
    for (const QString& level : path) {
        const QList<QAction*> actions = menu ? menu->actions() : menuBar()->actions();
        QMenu* found = nullptr;
        for (QAction* action : actions)
            if (action->menu() && action->menu()->title() == level)
                found = action->menu();
        if (!found) {
            found = menu ? menu->addMenu(level) : menuBar()->addMenu(level);
            if (!menu) {
                m_algorithmMenus.push_back(found);
                connect(found, &QMenu::aboutToShow, this, &MainWindowBase::updateActions);
            }
        }
        menu = found;
    }
    return menu;
}

void MainWindowBase::rebuildMenus()
{
    for (QAction* a : m_algorithmActions)
        delete a;
    for (QAction* a : m_exportActions)
        delete a;
    m_algorithmActions.clear();
    m_exportActions.clear();
    for (QMenu* menu : m_algorithmMenus)
        delete menu;
    m_algorithmMenus.clear();
    m_openMenu->clear();

    for (const AlgorithmDescriptor* d : m_registry->algorithmDescriptors()) {
        const QString id = d->id;
        if (d->ioMode == IoAlgorithm::Read) {
            if (!d->isCompatible(DataList()))
                continue;
            QAction* action = m_openMenu->addAction(d->displayName() + QStringLiteral("..."));
            action->setObjectName(id);
            connect(action, &QAction::triggered, this, [this, id] {
                if (auto algorithm = m_registry->instantiateAlgorithm(id))
                    runAlgorithm(std::move(algorithm));
            });
            m_algorithmActions.push_back(action);
        } else if (d->ioMode == IoAlgorithm::Write) {
            QAction* action = m_exportMenu->addAction(d->displayName() + QStringLiteral("..."));
            action->setObjectName(id);
            connect(action, &QAction::triggered, this, [this, id] { exportSelection(id); });
            m_exportActions.push_back(action);
        } else {
            QStringList path = d->menuPath();
            if (path.isEmpty())
                path = QStringList{tr("Algorithms")};
            QAction* action = menuForPath(path)->addAction(d->displayName());
            action->setObjectName(id);
            connect(action, &QAction::triggered, this, [this, id] {
                if (auto algorithm = m_registry->instantiateAlgorithm(id, selectedData()))
                    runAlgorithm(std::move(algorithm));
            });
            m_algorithmActions.push_back(action);
        }
    }
    m_openMenu->setEnabled(!m_openMenu->isEmpty());
    // Help stays last, after the menus the plug-ins add.
    QMenu* help = findChild<QMenu*>(QStringLiteral("helpMenu"), Qt::FindDirectChildrenOnly);
    if (!help)
        help = HelpMenu::create(this);
    menuBar()->removeAction(help->menuAction());
    menuBar()->addMenu(help);
    updateActions();
}

void MainWindowBase::updateActions()
{
    const DataList selection = selectedData();
    for (QAction* action : m_algorithmActions) {
        const AlgorithmDescriptor* d = m_registry->algorithmDescriptor(action->objectName());
        // Readers take no input and stay enabled.
        action->setEnabled(d && (d->ioMode == IoAlgorithm::Read || d->isCompatible(selection)));
    }
    bool anyExport = false;
    for (QAction* action : m_exportActions) {
        const AlgorithmDescriptor* d = m_registry->algorithmDescriptor(action->objectName());
        action->setEnabled(d && !selection.empty() && d->isCompatible(selection));
        anyExport = anyExport || action->isEnabled();
    }
    m_exportMenu->setEnabled(anyExport);
}

QAction* MainWindowBase::algorithmAction(const QString& id) const
{
    for (QAction* action : m_algorithmActions)
        if (action->objectName() == id)
            return action;
    return nullptr;
}

QAction* MainWindowBase::exportAction(const QString& id) const
{
    for (QAction* action : m_exportActions)
        if (action->objectName() == id)
            return action;
    return nullptr;
}

QStringList MainWindowBase::enabledAlgorithms() const
{
    QStringList ids;
    for (QAction* action : m_algorithmActions) {
        const AlgorithmDescriptor* d = m_registry->algorithmDescriptor(action->objectName());
        if (action->isEnabled() && d && !d->isIo())
            ids << action->objectName();
    }
    return ids;
}

QStringList MainWindowBase::enabledExports() const
{
    QStringList ids;
    for (QAction* action : m_exportActions)
        if (action->isEnabled())
            ids << action->objectName();
    return ids;
}

DataList MainWindowBase::selectedData() const
{
    return m_tree->selectedData();
}

void MainWindowBase::setSelectedData(const DataList& data)
{
    m_tree->setSelectedData(data);
    updateActions();
}

// --- recent files ------------------------------------------------------------------------------

std::vector<MainWindowBase::RecentFile> MainWindowBase::recentFiles()
{
    QSettings settings;
    std::vector<RecentFile> files;
    const int count = settings.beginReadArray(QLatin1String(kRecentKey));
    for (int i = 0; i < count; ++i) {
        settings.setArrayIndex(i);
        files.push_back(
            {settings.value(QStringLiteral("path")).toString(), settings.value(QStringLiteral("algorithm")).toString(),
             settings.value(QStringLiteral("config")).toString(), settings.value(QStringLiteral("label")).toString()});
    }
    settings.endArray();
    return files;
}

void MainWindowBase::addRecentFile(const QString& path, const QString& algorithmId, const Properties& config)
{
    if (path.isEmpty())
        return;
    // The location is the entry's own; the rest is what the reader needs to read it the same way.
    Properties stored(config);
    stored.removeParam(QStringLiteral("location"));
    std::vector<RecentFile> files = recentFiles();
    QString label;
    for (const RecentFile& f : files)
        if (f.path == path && f.algorithmId == algorithmId)
            label = f.label;
    files.erase(std::remove_if(files.begin(), files.end(),
                               [&](const RecentFile& f) { return f.path == path && f.algorithmId == algorithmId; }),
                files.end());
    files.insert(files.begin(), {path, algorithmId, PropertiesIO::toXmlString(stored, 1), label});
    writeRecentFiles(files);
    rebuildRecentMenu();
}

void MainWindowBase::nameRecentFile(const QString& path, const QString& algorithmId, const std::vector<Data*>& loaded)
{
    if (loaded.empty())
        return;
    QString label = loaded.front()->name();
    if (loaded.size() > 1)
        label += tr(" and %n more", nullptr, static_cast<int>(loaded.size() - 1));
    std::vector<RecentFile> files = recentFiles();
    for (RecentFile& f : files)
        if (f.path == path && f.algorithmId == algorithmId)
            f.label = label;
    writeRecentFiles(files);
    rebuildRecentMenu();
}

void MainWindowBase::writeRecentFiles(std::vector<RecentFile> files)
{
    if (files.size() > kMaxRecentFiles)
        files.resize(kMaxRecentFiles);
    QSettings settings;
    settings.remove(QLatin1String(kRecentKey));
    settings.beginWriteArray(QLatin1String(kRecentKey), static_cast<int>(files.size()));
    for (int i = 0; i < static_cast<int>(files.size()); ++i) {
        settings.setArrayIndex(i);
        settings.setValue(QStringLiteral("path"), files[i].path);
        settings.setValue(QStringLiteral("algorithm"), files[i].algorithmId);
        settings.setValue(QStringLiteral("config"), files[i].configXml);
        settings.setValue(QStringLiteral("label"), files[i].label);
    }
    settings.endArray();
}

void MainWindowBase::rebuildRecentMenu()
{
    m_recentMenu->clear();
    const auto files = recentFiles();
    for (int i = 0; i < static_cast<int>(files.size()); ++i) {
        // A location string of many series reads as nothing: the names of what it loaded do.
        const QFileInfo info(files[i].path);
        const QString name = !files[i].label.isEmpty()   ? files[i].label
                             : info.fileName().isEmpty() ? files[i].path
                                                         : info.fileName();
        const QString label = QStringLiteral("&%1 %2").arg(i + 1).arg(name);
        QAction* action = m_recentMenu->addAction(label, this, [this, i] { openRecentFile(i); });
        action->setToolTip(files[i].path);
        action->setStatusTip(files[i].path);
    }
    m_recentMenu->setToolTipsVisible(true);
    m_recentMenu->setEnabled(!files.empty());
}

bool MainWindowBase::openRecentFile(int index)
{
    const auto files = recentFiles();
    if (index < 0 || index >= static_cast<int>(files.size()))
        return false;
    const RecentFile& file = files[index];
    std::unique_ptr<Properties> config;
    if (!file.configXml.isEmpty())
        config = PropertiesIO::fromXmlString(file.configXml);
    return loadLocation(file.path, file.algorithmId, config.get());
}

// --- loading -----------------------------------------------------------------------------------

QString MainWindowBase::dicomReaderId() const
{
    // The reader that opens folders takes single files and location strings as well.
    QString fallback;
    for (const AlgorithmDescriptor* d : m_registry->compatibleIoDescriptors(IoAlgorithm::Read)) {
        if (!d->id.contains(QLatin1String("dicom"), Qt::CaseInsensitive))
            continue;
        if (d->id.contains(QLatin1String("folder"), Qt::CaseInsensitive))
            return d->id;
        if (fallback.isEmpty())
            fallback = d->id;
    }
    return fallback;
}

bool MainWindowBase::loadLocation(const QString& location, const QString& algorithmId, const Properties* config)
{
    std::shared_ptr<Algorithm> algorithm(m_registry->instantiateAlgorithm(algorithmId));
    if (!algorithm) {
        Log::log(4, "MainWindow", "No reader " + algorithmId + " for " + location);
        statusBar()->showMessage(tr("Cannot open %1: no reader %2").arg(location, algorithmId));
        return false;
    }
    Properties p(config ? *config : Properties(QStringLiteral("Config")));
    p.setParam(QStringLiteral("location"), location);
    algorithm->configure(&p);
    runInBackground(algorithm, tr("Loading %1").arg(location), [this, location, algorithmId](Algorithm& done) {
        if (done.status() == Algorithm::Success) {
            Properties config(QStringLiteral("Config"));
            done.configuration(&config);
            addRecentFile(location, algorithmId, config);
            nameRecentFile(location, algorithmId, addOutput(done.takeOutput(), location));
        } else {
            Log::log(4, "MainWindow", "Could not load " + location);
            statusBar()->showMessage(tr("Could not load %1").arg(location));
        }
    });
    return true;
}

void MainWindowBase::openPaths(const QStringList& paths)
{
    const QString reader = dicomReaderId();
    for (const QString& path : paths) {
        const QFileInfo info(path);
        // URLs and location strings go to the reader as they are.
        const bool location = path.contains(QLatin1String("://")) || path.contains(QLatin1String("##"));
        if (!location && !info.exists()) {
            Log::log(3, "MainWindow", "No such file or folder: " + path);
            statusBar()->showMessage(tr("No such file or folder: %1").arg(path));
        } else if (reader.isEmpty()) {
            statusBar()->showMessage(tr("Cannot open %1: no DICOM reader is loaded").arg(path));
        } else if (!location &&
                   (info.isDir() || info.fileName().compare(QLatin1String("DICOMDIR"), Qt::CaseInsensitive) == 0)) {
            m_folderQueue << info.absoluteFilePath();
        } else {
            loadLocation(location ? path : info.absoluteFilePath(), reader);
        }
    }
    openNextFolder();
}

void MainWindowBase::openNextFolder()
{
    if (m_openingFolder || m_folderQueue.isEmpty())
        return;
    std::unique_ptr<Algorithm> algorithm = m_registry->instantiateAlgorithm(dicomReaderId());
    if (!algorithm)
        return;
    Properties p(QStringLiteral("Config"));
    p.setParam(QStringLiteral("location"), m_folderQueue.takeFirst());
    algorithm->configure(&p);
    m_openingFolder = algorithm.get();
    runAlgorithm(std::move(algorithm));
    // A reader without an interface of its own asked for a folder instead: nothing waits for it.
    if (std::none_of(m_running.begin(), m_running.end(),
                     [this](const auto& r) { return r->algorithm.get() == m_openingFolder; }))
        m_openingFolder = nullptr;
}

void MainWindowBase::dragEnterEvent(QDragEnterEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (std::any_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); }))
        event->acceptProposedAction();
}

void MainWindowBase::dropEvent(QDropEvent* event)
{
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    // After the drag has ended: opening a folder may show a modal browser.
    QTimer::singleShot(0, this, [this, paths] { openPaths(paths); });
}

void MainWindowBase::runInBackground(std::shared_ptr<Algorithm> algorithm, const QString& description,
                                     std::function<void(Algorithm&)> done)
{
    auto task = std::make_shared<Progress::Task>(m_progress, 0, description.toStdString());
    algorithm->setProgress(m_progress);
    ++m_pendingLoads;
    auto* watcher = new QFutureWatcher<void>(this);
    connect(watcher, &QFutureWatcher<void>::finished, this, [this, watcher, algorithm, task, done] {
        watcher->deleteLater();
        task->finish();
        done(*algorithm);
        if (--m_pendingLoads == 0) {
            // Readers that report through the plain progress calls leave the display's own row.
            m_progress->reset();
            emit loadsFinished();
        }
    });
    // Reading and writing are file and network I/O: never on the GUI thread.
    watcher->setFuture(QtConcurrent::run([algorithm] { algorithm->compute(); }));
}

std::vector<Data*> MainWindowBase::addOutput(OwningDataList output, const QString& source)
{
    if (output.empty())
        return {};
    const std::vector<Data*> added = m_dataModel->add(std::move(output));
    // Shown here, not again when the model's notifications are handled.
    for (Data* data : withDescendants(added))
        m_newData.erase(std::remove(m_newData.begin(), m_newData.end(), data), m_newData.end());
    showNewData(added, source);
    return added;
}

void MainWindowBase::showMessage(const QString& text)
{
    if (text.isEmpty())
        return;
    if (m_newData.empty()) {
        statusBar()->showMessage(text);
        return;
    }
    m_pendingMessage += (m_pendingMessage.isEmpty() ? QString() : QStringLiteral("; ")) + text;
}

void MainWindowBase::showImageSet(Data* image)
{
    DataList shown = m_display->visibleData();
    if (shown.contains(image))
        return;
    for (SharedImageSet* old : shown.getImages())
        shown.remove(old);
    shown.add(image);
    m_display->setVisibleData(shown);
    m_display->resetViews();
}

void MainWindowBase::showNewData(const std::vector<Data*>& added, const QString& source)
{
    DataList shown = m_display->visibleData();
    bool imageShown = false;
    for (Data* data : withDescendants(added)) {
        if (!m_annotationModel->getDataAnnotation(data)) {
            const QStringList names = m_registry->compatibleDataAnnotations(data);
            if (!names.isEmpty())
                if (auto annotation = m_registry->createDataAnnotation(names.last(), data))
                    m_annotationModel->add(std::unique_ptr<Annotation>(std::move(annotation)), data);
        }
        if (data->kind() == Data::KindGroup || shown.contains(data))
            continue;
        // Series over series are hard to read: the first new image set replaces the image sets
        // shown so far, the others wait for their check box. Surfaces and points all show, and
        // label maps show in colour over the images.
        if (dynamic_cast<SharedImageSet*>(data) && !DisplayWidgetMulti::isLabelMap(data)) {
            if (imageShown)
                continue;
            for (SharedImageSet* old : shown.getImages())
                shown.remove(old);
            imageShown = true;
        }
        shown.add(data);
    }
    m_display->setVisibleData(shown);
    if (imageShown)
        m_display->resetViews();
    updateDataControllers();

    // What came, which of it the views show and how to show the rest; then the readers' notes.
    const std::vector<Data*> all = withDescendants(added);
    std::vector<Data*> images;
    std::copy_if(all.begin(), all.end(), std::back_inserter(images),
                 [](Data* d) { return dynamic_cast<SharedImageSet*>(d) != nullptr; });
    QString text;
    if (images.size() == 1)
        text = tr("Loaded %1").arg(images.front()->name());
    else if (images.size() > 1)
        text = tr("Loaded %1 image sets; the views show %2 (click another in the Data tree to show it)")
                   .arg(images.size())
                   .arg(images.front()->name());
    else if (!added.empty())
        text = added.size() == 1 ? tr("Loaded %1").arg(added.front()->name()) : tr("Loaded %1 items").arg(added.size());
    if (!text.isEmpty() && !source.isEmpty())
        text += tr(" from %1").arg(source);
    if (imageShown) {
        // The data tree's current row is the image set on show.
        for (Data* image : images)
            if (m_display->visibleData().contains(image)) {
                m_tree->setSelectedData(DataList{image});
                m_tree->selectionModel()->setCurrentIndex(m_tree->selectionModel()->selectedRows(0).value(0),
                                                          QItemSelectionModel::NoUpdate);
                break;
            }
    }
    QStringList parts;
    for (const QString& part : {text, notesOf(added), std::exchange(m_pendingMessage, {})})
        if (!part.isEmpty())
            parts << part;
    if (!parts.isEmpty())
        statusBar()->showMessage(parts.join(QStringLiteral(". ")));
}

void MainWindowBase::askAndLoad(const AlgorithmDescriptor& descriptor)
{
    QSettings settings;
    const QString key = QStringLiteral("lastDir/") + descriptor.id;
    const QString dir = settings.value(key).toString();
    const bool folder = descriptor.id.contains(QLatin1String("folder"), Qt::CaseInsensitive) ||
                        descriptor.id.contains(QLatin1String("browser"), Qt::CaseInsensitive);
    const QString path = folder ? QFileDialog::getExistingDirectory(this, tr("Load data"), dir)
                                : QFileDialog::getOpenFileName(this, tr("Load data"), dir);
    if (path.isEmpty())
        return;
    settings.setValue(key, folder ? path : QFileInfo(path).absolutePath());
    loadLocation(path, descriptor.id);
}

void MainWindowBase::askAndSave(std::unique_ptr<Algorithm> algorithm)
{
    QSettings settings;
    const QString key = QStringLiteral("lastDir/") + algorithm->id();
    const QString path = QFileDialog::getSaveFileName(this, tr("Export data"), settings.value(key).toString());
    if (path.isEmpty())
        return;
    settings.setValue(key, QFileInfo(path).absolutePath());
    Properties p(QStringLiteral("Config"));
    p.setParam(QStringLiteral("location"), path);
    algorithm->configure(&p);
    runInBackground(std::shared_ptr<Algorithm>(std::move(algorithm)), tr("Writing %1").arg(path),
                    [this, path](Algorithm& done) {
                        if (done.status() != Algorithm::Success)
                            QMessageBox::information(this, tr("Export data"), tr("Could not save data"));
                        else
                            statusBar()->showMessage(tr("Wrote %1").arg(path), 5000);
                    });
}

void MainWindowBase::exportSelection(const QString& algorithmId)
{
    auto algorithm = m_registry->instantiateAlgorithm(algorithmId, selectedData());
    if (!algorithm) {
        statusBar()->showMessage(tr("The selected data cannot be exported this way"));
        return;
    }
    runAlgorithm(std::move(algorithm));
}

// --- algorithms and controllers ----------------------------------------------------------------

void MainWindowBase::runAlgorithm(std::unique_ptr<Algorithm> algorithm)
{
    if (!algorithm)
        return;
    const AlgorithmDescriptor* d = m_registry->algorithmDescriptor(algorithm->id());
    AlgorithmController* controller = m_registry->createController(algorithm.get(), false);
    if (!controller && d && d->ioMode == IoAlgorithm::Read) {
        // A reader without an interface of its own: the application asks where to read from and
        // reads on a worker thread.
        askAndLoad(*d);
        return;
    }
    if (!controller && d && d->ioMode == IoAlgorithm::Write && !dynamic_cast<IoAlgorithm*>(algorithm.get())) {
        askAndSave(std::move(algorithm));
        return;
    }
    if (!controller)
        controller = m_registry->createController(algorithm.get(), true);
    if (!controller) {
        Log::log(4, "MainWindow", "No controller for algorithm " + algorithm->id());
        return;
    }
    algorithm->setProgress(m_progress);
    auto running = std::make_unique<Running>();
    running->algorithm = std::move(algorithm);
    running->controller.reset(controller);
    Running* r = running.get();
    m_running.push_back(std::move(running));
    controller->setApplicationController(this);
    if (controller->preferredLocation() == AlgorithmController::ControllerDock && controller->widget()) {
        auto* decorator = new DefaultControllerDecorator(controller);
        decorator->setTitle(controller->title());
        controller->setDecorator(decorator);
        r->decorator = decorator;
        m_controllerLayout->insertWidget(m_controllerLayout->count() - 1, decorator);
        m_controllerDock->show();
        m_controllerDock->raise();
        // A panel such as the tag viewer needs room: half the height beside the views, and its
        // own width (tag tables want about 560 pixels) up to half the window's.
        if (m_controllerDock->height() < height() / 2)
            resizeDocks({m_controllerDock}, {height() / 2}, Qt::Vertical);
        const int wanted = std::min(std::max(decorator->sizeHint().width() + 40, 560), width() / 2);
        if (m_controllerDock->width() < wanted)
            resizeDocks({m_controllerDock}, {wanted}, Qt::Horizontal);
        connect(decorator, &ControllerDecorator::closeRequested, this,
                [controller] { controller->closeAlgorithm(false); });
    }
    controller->init();
    if (auto* io = dynamic_cast<IoController*>(controller))
        // After the menu that started it has closed.
        QMetaObject::invokeMethod(io, "run", Qt::QueuedConnection);
}

void MainWindowBase::algorithmFinished(Algorithm* algorithm, bool success)
{
    if (algorithm && success)
        statusBar()->showMessage(tr("%1 finished").arg(algorithm->name()), 5000);
}

void MainWindowBase::closeAlgorithm(AlgorithmController* controller, bool notifyHost)
{
    for (auto& running : m_running) {
        if (running->controller.get() != controller || running->closed)
            continue;
        running->closed = true;
        if (notifyHost && running->algorithm->status() == Algorithm::Success) {
            addOutput(running->algorithm->takeOutput());
            algorithmFinished(running->algorithm.get(), true);
        }
        if (running->decorator)
            running->decorator->hide();
    }
    // The controller may still be on the stack: delete it from the event loop.
    QTimer::singleShot(0, this, &MainWindowBase::reapClosed);
}

void MainWindowBase::reapClosed()
{
    for (auto it = m_running.begin(); it != m_running.end();) {
        if (!(*it)->closed) {
            ++it;
            continue;
        }
        QPointer<ControllerDecorator> decorator = (*it)->decorator;
        if ((*it)->algorithm.get() == m_openingFolder)
            m_openingFolder = nullptr;
        (*it)->controller.reset();
        delete decorator;
        it = m_running.erase(it);
    }
    if (m_running.empty() && m_dataControllers.empty())
        m_controllerDock->hide();
    // Readers report through the display's plain calls too: their row ends with them.
    if (m_running.empty() && m_pendingLoads == 0)
        m_progress->reset();
    openNextFolder();
}

void MainWindowBase::updateDataControllers()
{
    // Each controller is offered the items it fits: all of them, else each item on its own (a
    // controller of single image sets should not vanish because something else is loaded).
    const DataList all = m_dataModel->getAllAsList();
    QStringList names = m_registry->compatibleDataControllers(all);
    std::map<QString, DataList> offered;
    for (const QString& name : names)
        offered[name] = all;
    for (Data* data : all) {
        DataList one;
        one.add(data);
        for (const QString& name : m_registry->compatibleDataControllers(one))
            if (!names.contains(name)) {
                names << name;
                offered[name] = one;
            }
    }
    // Controllers whose data is gone go; new ones come.
    for (int i = m_dataControllerNames.size() - 1; i >= 0; --i)
        if (!names.contains(m_dataControllerNames[i])) {
            QPointer<QWidget> frame = m_dataControllers[i]->decorator();
            m_dataControllers.erase(m_dataControllers.begin() + i);
            m_dataControllerNames.removeAt(i);
            delete frame;
        }
    for (const QString& name : names) {
        if (m_dataControllerNames.contains(name))
            continue;
        DataController* controller = m_registry->createDataController(name, offered[name]);
        if (!controller)
            continue;
        m_dataControllers.emplace_back(controller);
        m_dataControllerNames << name;
        controller->setApplicationController(this);
        auto* decorator = new DefaultControllerDecorator(controller);
        decorator->setTitle(controller->title().isEmpty() ? name.split(QLatin1Char(';')).last() : controller->title());
        controller->setDecorator(decorator);
        m_controllerLayout->insertWidget(m_controllerLayout->count() - 1, decorator);
        controller->init();
        controller->onVisibleDataChanged(m_display->visibleData());
        m_controllerDock->show();
    }
}

void MainWindowBase::showAnnotationWidget(bool show)
{
    m_annotationDock->setVisible(show);
    if (show)
        m_annotationDock->raise();
}

void MainWindowBase::closeEvent(QCloseEvent* event)
{
    QSettings settings;
    settings.setValue(QStringLiteral("MainWindow/geometry"), saveGeometry());
    settings.setValue(QStringLiteral("MainWindow/state"), saveState());
    m_progress->cancelAll();
    QMainWindow::closeEvent(event);
}

}  // namespace Dravelin

#include "moc_MainWindowBase.cpp"
