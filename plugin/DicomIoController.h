#pragma once

#include "host/app/IoController.h"
#include "host/core/Progress.h"

#include <QString>

#include <string>
#include <vector>

namespace Dravelin {

class DicomBrowser;
class DicomBrowserModel;
class DicomIoAlgorithm;

namespace Dicom {
struct Error;
}

// What the user sees when one of the DICOM readers or the DICOM writer runs: the file and
// folder choosers, the folder scan with its progress, the shared browser dialog, the export
// dialog and the fatal-error dialog. The loaded data goes to the application's data model.
class DicomIoController : public IoController
{
    Q_OBJECT

public:
    explicit DicomIoController(DicomIoAlgorithm* algorithm);
    ~DicomIoController() override;

    // Shows the errors of severity 2 the algorithm collected, if any.
    void showFatalErrors();

    // "<name> (*.a *.b);;All files (*)" for the reader's extensions, "All files (*)" without.
    static QString fileFilter(const QString& name, const std::vector<std::string>& extensions);
    // The browser shared by every controller of the process (null until first needed).
    static DicomBrowser* sharedBrowser() { return m_dicomBrowser; }
    // The error logger of the browser flow: cache errors go to the log by severity.
    static void logCacheError(const Dicom::Error& error);

public slots:
    void run() override;
    void onProgressRangeChanged(int min, int max);
    void onProgressValueChanged(int value);
    void onProgressTextChanged(QString text);

private:
    void runFileFlow(const QString& path);
    void runFolderFlow(QString path);
    void runBrowserFlow(const QString& path);
    void loadSingleLocation(const QString& path);
    void runSaveFlow();
    // Adds what the last compute() read, with its configuration and annotations.
    void addFileOutput(const QString& path);
    DicomBrowser* ensureBrowser();

    DicomIoAlgorithm* m_algorithm;
    DicomBrowserModel* m_browserModel = nullptr;  // owned until handed to the browser
    Progress::Task* m_progressTask = nullptr;     // owned; only while a folder scan runs
    bool m_scanCancelled = false;

    static DicomBrowser* m_dicomBrowser;
};

}  // namespace Dravelin
