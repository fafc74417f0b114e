#pragma once

#include "host/app/ApplicationController.h"
#include "host/data/DataList.h"
#include "host/data/OwningDataList.h"

#include <QMainWindow>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class QAction;
class QDockWidget;
class QLabel;
class QMenu;
class QVBoxLayout;

namespace Dravelin {

class AlgorithmDescriptor;
class AnnotationWidget;
class DataController;
class DataTreeWidget;
class DisplayWidgetMulti;
class FactoryRegistry;
class ProgressWidget;

// The application's main window and its application controller: the views in the centre, the
// data tree, annotations, controller panels and progress in docks, and menus built from the
// factory registry. File offers every reading IO algorithm, the recent files and "Export" for
// writers that accept the selection; every other algorithm sits under its ";"-separated menu
// path, enabled when it accepts the selected data. Window geometry and dock layout are kept in
// QSettings ("MainWindow/geometry", "MainWindow/state"), recent files under "recentFiles".
class MainWindowBase : public QMainWindow, public ApplicationController
{
    Q_OBJECT
public:
    struct RecentFile
    {
        QString path;
        QString algorithmId;
        QString configXml;  // the reader's configuration as a properties document
        QString label;      // what was loaded ("Doe Jane — CT Head"); empty until known
    };
    static constexpr int kMaxRecentFiles = 10;

    // `registry` null means the global registry. Not owned.
    explicit MainWindowBase(FactoryRegistry* registry = nullptr, QWidget* parent = nullptr);
    ~MainWindowBase() override;

    DataModel* dataModel() const override { return m_dataModel; }
    DataItemModel* dataItemModel() const override { return m_itemModel; }
    AnnotationModel* annotationModel() const override { return m_annotationModel; }
    DataDisplay* display() const override;
    QWidget* mainWidget() const override { return const_cast<MainWindowBase*>(this); }
    Progress* progress() const override;

    void addRecentFile(const QString& path, const QString& algorithmId, const Properties& config) override;
    void nameRecentFile(const QString& path, const QString& algorithmId, const std::vector<Data*>& loaded) override;
    void showAnnotationWidget(bool show) override;
    void runAlgorithm(std::unique_ptr<Algorithm> algorithm) override;
    void algorithmFinished(Algorithm* algorithm, bool success) override;
    void closeAlgorithm(AlgorithmController* controller, bool notifyHost) override;
    // Shown in the status bar until the next message; while new data waits to be shown, it
    // follows the note of what was loaded.
    void showMessage(const QString& text) override;

    DisplayWidgetMulti* displayWidget() const { return m_display; }
    DataTreeWidget* dataTree() const { return m_tree; }
    ProgressWidget* progressWidget() const { return m_progress; }
    FactoryRegistry& registry() const { return *m_registry; }

    // The data the menus work on: the data tree's selection.
    DataList selectedData() const;
    void setSelectedData(const DataList& data);

    // Rebuilds the algorithm menus from the registry (after plug-ins were loaded).
    void rebuildMenus();
    // Enables each algorithm action by its compatibility with the selection.
    void updateActions();
    // The menu action of an algorithm (full id) and, for writers, its "Export" entry.
    QAction* algorithmAction(const QString& id) const;
    QAction* exportAction(const QString& id) const;
    // Ids of the enabled actions among the non-IO algorithms, and among the writers.
    QStringList enabledAlgorithms() const;
    QStringList enabledExports() const;

    static std::vector<RecentFile> recentFiles();
    // Reads a recent entry again with its reader and configuration. False for a bad index or
    // an unknown reader.
    bool openRecentFile(int index);

    // Reads `location` with the reader `algorithmId` on a worker thread (with `config` applied
    // first), then adds the result to the data model, shows it and remembers it as a recent
    // file. False when the reader cannot be created.
    bool loadLocation(const QString& location, const QString& algorithmId, const Properties* config = nullptr);
    // The id of the first registered DICOM reader that opens folders and files, or empty.
    QString dicomReaderId() const;
    // Opens what the user named (command line, drag and drop): a folder (read with its
    // sub-folders) or a DICOMDIR as File > Open does, through the reader's own interface, which
    // offers the browser when it holds several series; one folder at a time. Files, URLs and
    // location strings are read by loadLocation(). A path that does not exist is said in the
    // status bar.
    void openPaths(const QStringList& paths);
    int pendingLoads() const { return m_pendingLoads; }

    // Adds read data to the models, gives each item the data annotation offered for it, and
    // shows it; the status bar says what was loaded (from `source`, when given). Returns the
    // added items.
    std::vector<Data*> addOutput(OwningDataList output, const QString& source = QString());

signals:
    void selectedDataChanged();
    // The last background load ended.
    void loadsFinished();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    struct Running;
    void buildStaticMenus();
    QMenu* menuForPath(const QStringList& path);
    void rebuildRecentMenu();
    void buildViewToolBar();
    static void writeRecentFiles(std::vector<RecentFile> files);
    void exportSelection(const QString& algorithmId);
    void askAndLoad(const AlgorithmDescriptor& descriptor);
    void askAndSave(std::unique_ptr<Algorithm> algorithm);
    // Computes `algorithm` on a worker thread with a progress row; `done` runs on the GUI thread.
    void runInBackground(std::shared_ptr<Algorithm> algorithm, const QString& description,
                         std::function<void(Algorithm&)> done);
    void updateDataControllers();
    // Gives new items their data annotation and shows them (the first new image set replaces
    // the image sets shown and becomes the data tree's current row), then says what came.
    void showNewData(const std::vector<Data*>& added, const QString& source = QString());
    // The views show `image` in place of the image sets they showed.
    void showImageSet(Data* image);
    // Starts the reader's folder flow on the next queued folder, unless one runs.
    void openNextFolder();
    void showControllerPanel(class Controller* controller, const QString& title);
    void reapClosed();

    FactoryRegistry* m_registry;
    DataModel* m_dataModel;
    DataItemModel* m_itemModel;
    AnnotationModel* m_annotationModel;
    DisplayWidgetMulti* m_display;
    DataTreeWidget* m_tree;
    AnnotationWidget* m_annotations;
    ProgressWidget* m_progress;
    QDockWidget* m_annotationDock;
    QDockWidget* m_controllerDock;
    QVBoxLayout* m_controllerLayout;
    QLabel* m_hover;

    QMenu* m_fileMenu = nullptr;
    QMenu* m_openMenu = nullptr;
    QMenu* m_recentMenu = nullptr;
    QMenu* m_exportMenu = nullptr;
    QAction* m_fileMenuEnd = nullptr;
    std::vector<QMenu*> m_algorithmMenus;
    std::vector<QAction*> m_algorithmActions;
    std::vector<QAction*> m_exportActions;

    std::vector<std::unique_ptr<Running>> m_running;
    std::vector<std::unique_ptr<DataController>> m_dataControllers;
    QStringList m_dataControllerNames;
    int m_pendingLoads = 0;
    std::vector<Data*> m_newData;                // added to the model since the last showNewData
    QString m_pendingMessage;                    // said with the next showNewData
    QStringList m_folderQueue;                   // folders waiting for openPaths' reader
    const Algorithm* m_openingFolder = nullptr;  // the reader reading one of them
};

}  // namespace Dravelin
