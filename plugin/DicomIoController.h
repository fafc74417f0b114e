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

    // "<name> (*.a *.b);;All files (*)" for the reader's extensions, "All files (*)" without; the
    // empty extension (files without one) becomes "*".
    static QString fileFilter(const QString& name, const QStringList& extensions);
    // "40 files written to /x/y" ("sent to" a PACS URL): what an export says when it is done.
    static QString writtenText(std::size_t files, const QString& location);
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
    // Says the outcome to the user, if there is one to say.
    void tell(const QString& text);
    // The message of the first fatal error the algorithm collected, or a pointer to the log.
    QString firstFatalError() const;

    DicomIoAlgorithm* m_algorithm;
    DicomBrowserModel* m_browserModel = nullptr;  // owned until handed to the browser
    Progress::Task* m_progressTask = nullptr;     // owned; only while a folder scan runs
    bool m_scanCancelled = false;
    QString m_scanNote;  // what the folder scan skipped, said with the load

    static DicomBrowser* m_dicomBrowser;
};

}  // namespace Dravelin
