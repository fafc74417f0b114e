#include "plugin/DicomIoController.h"

#include "browser/models/DicomBrowserModel.h"
#include "browser/widgets/DicomBrowser.h"
#include "host/app/ApplicationController.h"
#include "host/app/FactoryRegistry.h"
#include "host/app/FileDialogs.h"
#include "host/core/Log.h"
#include "host/core/Url.h"
#include "host/data/Annotation.h"
#include "host/data/AnnotationModel.h"
#include "host/data/DataAnnotation.h"
#include "host/data/DataDisplay.h"
#include "host/data/DataModel.h"
#include "host/data/SharedImageSet.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/Error.h"
#include "host/dicom/dimse/DicomPacsConfiguration.h"
#include "host/dicom/io/DicomIOAlgorithmBrowser.h"
#include "host/dicom/io/DicomIOAlgorithmFile.h"
#include "host/dicom/io/DicomIOAlgorithmFolder.h"
#include "host/dicom/io/DicomIoAlgorithm.h"
#include "host/ui/PropertiesWidget.h"
#include "host/ui/WidgetHelpers.h"
#include "plugin/DicomIoControllerExportDialog.h"
#include "scanning/Patient.h"
#include "scanning/ScannerQt.h"
#include "scanning/Series.h"
#include "scanning/SkippedFiles.h"
#include "scanning/Study.h"

#include <QDialog>
#include <QFile>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QTextDocument>
#include <QTextEdit>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace Dravelin {

namespace Detail {

// The browser's "configure" dialog: the reader's user options, written back on Ok.
class AlgorithmConfigDialog : public QDialog
{
public:
    AlgorithmConfigDialog(DicomIoAlgorithm* algorithm, QWidget* parent) : QDialog(parent), m_algorithm(algorithm)
    {
        auto* layout = new QVBoxLayout(this);
        m_widget = new PropertiesWidget(this);
        layout->addWidget(m_widget);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        layout->addWidget(buttons);
        setWindowTitle(QDialog::tr("Options"));
    }

    void setVisible(bool visible) override
    {
        if (visible && m_algorithm) {
            const Properties options = m_algorithm->userOptions(true, false);
            m_widget->setProperties(&options);
        }
        QDialog::setVisible(visible);
    }

    void accept() override
    {
        if (m_algorithm) {
            Properties edited;
            m_widget->configuration(&edited);
            m_algorithm->configure(&edited);
        }
        QDialog::accept();
    }

private:
    DicomIoAlgorithm* m_algorithm;
    PropertiesWidget* m_widget;
};

}  // namespace Detail

namespace {

// The "User Options" block shown below a file dialog; written into the algorithm when the
// dialog closes, whatever the user chose there.
class UserOptions
{
public:
    explicit UserOptions(DicomIoAlgorithm* algorithm) : m_algorithm(algorithm), m_block(QStringLiteral("User Options"))
    {
        const Properties options = algorithm->userOptions(true, false);
        *m_block.addSubProperties(QStringLiteral("Options")) = options;
        if (!options.isEmpty())
            m_widget = std::make_unique<PropertiesWidget>(&m_block);
    }

    QWidget* widget() const { return m_widget.get(); }

    void apply()
    {
        if (!m_widget)
            return;
        m_block.clear();
        m_widget->configuration(&m_block);
        const std::vector<const Properties*> blocks = m_block.allSubProperties();
        if (!blocks.empty())
            m_algorithm->configure(blocks.front());
    }

private:
    DicomIoAlgorithm* m_algorithm;
    Properties m_block;
    std::unique_ptr<PropertiesWidget> m_widget;
};

QPointer<QDialog>& configDialogOf(const DicomBrowser*)
{
    static QPointer<QDialog> dialog;
    return dialog;
}

}  // namespace

DicomBrowser* DicomIoController::m_dicomBrowser = nullptr;

DicomIoController::DicomIoController(DicomIoAlgorithm* algorithm)
    : IoController(static_cast<Algorithm*>(algorithm), false, false), m_algorithm(algorithm)
{
}

DicomIoController::~DicomIoController()
{
    if (m_dicomBrowser) {
        m_dicomBrowser->setDatasetCache(std::make_shared<Dicom::DatasetCache>(0));
        m_dicomBrowser->setConfigDialog(nullptr);
        if (QPointer<QDialog>& dialog = configDialogOf(m_dicomBrowser))
            dialog->deleteLater();
    }
    delete m_progressTask;
    delete m_browserModel;
}

QString DicomIoController::fileFilter(const QString& name, const QStringList& extensions)
{
    QString patterns;
    // No glob matches "no extension" alone, and "*." matches nothing: such files need "*".
    for (const QString& e : extensions)
        patterns += e.isEmpty() ? QStringLiteral("* ") : QStringLiteral("*.%1 ").arg(e);
    if (patterns.isEmpty())
        return tr("All files (*)");
    patterns.chop(1);
    return tr("%1 (%2);;All files (*)").arg(name, patterns);
}

void DicomIoController::logCacheError(const Dicom::Error& error)
{
    if (error.type == Dicom::Error::Information)
        DRAVELIN_LOG(1, "DICOM", error.message);
    else if (error.type == Dicom::Error::Warning || error.type == Dicom::Error::Fatal)
        DRAVELIN_LOG(3, "DICOM", error.message);
}

void DicomIoController::run()
{
    if (!m_algorithm) {
        closeAlgorithm(false);
        return;
    }
    if (m_algorithm->ioMode() != DicomIoAlgorithm::Read) {
        if (m_algorithm->ioMode() == DicomIoAlgorithm::Write)
            runSaveFlow();
        else
            closeAlgorithm(true);
        return;
    }
    const QString path = QString::fromStdString(Filesystem::Url(m_algorithm->location().toStdString()).path());
    if (dynamic_cast<DicomIOAlgorithmFile*>(m_algorithm))
        runFileFlow(path);
    else if (dynamic_cast<DicomIOAlgorithmBrowser*>(m_algorithm))
        runBrowserFlow(path);
    else if (dynamic_cast<DicomIOAlgorithmFolder*>(m_algorithm))
        runFolderFlow(path);
    else
        loadSingleLocation(path);
}

void DicomIoController::runFileFlow(const QString& path)
{
    QStringList files;
    if (!path.isEmpty()) {
        files << path;
    } else {
        UserOptions options(m_algorithm);
        const QString filter = fileFilter(m_algorithm->name(), m_algorithm->extensions());
        const QString key = QStringLiteral("IoController/DicomIo/openFile");
        if (!multipleSelection()) {
            const QString file = QtHelpers::getOpenFilename(mainWidget(), key, tr("Load data"), filter, nullptr,
                                                            QString(), options.widget(), false);
            if (!file.isEmpty())
                files << file;
        } else {
            files =
                QtHelpers::askForFiles(key, tr("Load data"), filter, nullptr, mainWidget(), options.widget(), false);
            std::sort(files.begin(), files.end());
        }
        options.apply();
    }
    if (files.isEmpty()) {
        closeAlgorithm(false);
        return;
    }
    for (const QString& file : files) {
        m_algorithm->setLocation(file);
        m_algorithm->compute();
        if (m_algorithm->status() != Algorithm::Success)
            continue;
        addFileOutput(file);
    }
    showFatalErrors();
    closeAlgorithm(true);
}

void DicomIoController::addFileOutput(const QString& path)
{
    DataModel* model = dataModel();
    const bool modelWasEmpty = !model || model->getAll(0, 0).empty();
    OwningDataList output = m_algorithm->takeOutput();
    Properties config(QStringLiteral("Config"));
    m_algorithm->configuration(&config);
    ApplicationController* app = applicationController();
    if (m_algorithm->status() == Algorithm::Success && app)
        app->addRecentFile(path, m_algorithm->id(), config);
    if (output.empty())
        return;
    if (!model) {
        DRAVELIN_LOG(2, "DICOM", QStringLiteral("No data model: the data read from %1 is dropped").arg(path));
        return;
    }
    std::vector<Data*> added = model->add(std::move(output));
    if (m_algorithm->status() == Algorithm::Success && app)
        app->nameRecentFile(path, m_algorithm->id(), added);
    for (Data* data : added) {
        auto* set = dynamic_cast<SharedImageSet*>(data);
        if (!set)
            continue;
        Properties& props = set->ensureProperties();
        for (const Properties::Param& p : config.params())
            if (p.name != QLatin1String("location") && p.name != QLatin1String("filename"))
                props.setParam(p.name, p.value);
    }
    for (DataAnnotation* annotation : addDataAnnotations(added)) {
        if (app)
            app->showAnnotationWidget(true);
        const std::optional<Eigen::AlignedBox3d> bounds = annotation->bounds();
        if (modelWasEmpty && bounds && !bounds->isEmpty())
            if (DataDisplay* view = display())
                view->setSceneCentre(bounds->center());
    }
}

void DicomIoController::runFolderFlow(QString path)
{
    if (path.isEmpty()) {
        UserOptions options(m_algorithm);
        path = QtHelpers::getExistingDirectory(mainWidget(), QStringLiteral("IoController/DicomIo/openFolder"),
                                               tr("Load data"), QString(), options.widget(), false);
        options.apply();
        if (path.isEmpty()) {
            closeAlgorithm(false);
            return;
        }
    }
    ApplicationController* app = applicationController();
    if (app && app->mainWidget()) {
        delete m_progressTask;
        m_progressTask = new Progress::Task(app->progress(), 0, "Scanning Folder...");
    }
    delete m_browserModel;
    m_browserModel = new DicomBrowserModel(m_algorithm->cache());
    connect(m_browserModel, &DicomBrowserModel::scanProgressRangeChanged, this,
            &DicomIoController::onProgressRangeChanged);
    connect(m_browserModel, &DicomBrowserModel::scanProgressValueChanged, this,
            &DicomIoController::onProgressValueChanged);
    connect(m_browserModel, &DicomBrowserModel::scanProgressTextChanged, this,
            &DicomIoController::onProgressTextChanged);
    m_scanCancelled = false;

    const QFileInfo info(path);
    int dicomDir = 0;
    Dicom::SkippedFiles skipped;
    if (!info.exists()) {
        DRAVELIN_LOG(3, "DICOM", "No such file or folder: " + path);
    } else if (info.isFile() && info.fileName().toUpper() == QLatin1String("DICOMDIR")) {
        m_browserModel->scanDicomDirBlocking(info.absoluteFilePath());
        dicomDir = 1;
    } else {
        m_browserModel->scanBlocking(nullptr, [&](Dicom::ScannerQt& scanner) {
            scanner.setSkippedFileHandler(
                [&skipped](const QString& file, Dicom::Scanner::SkipReason reason) { skipped.add(file, reason); });
            scanner.scanDirectory(path, true, false, true);
        });
    }
    delete m_progressTask;
    m_progressTask = nullptr;

    if (m_scanCancelled) {
        closeAlgorithm(false);
        return;
    }
    // Said in the window with the same counts as the command line's scan; the files in the log.
    m_scanNote.clear();
    if (!skipped.empty()) {
        for (const auto& [file, reason] : skipped.files())
            DRAVELIN_LOG(2, "DICOM", "Skipped " + file + ": " + Dicom::SkippedFiles::reasonText(reason));
        m_scanNote = tr("%1 (the list is in the log)").arg(skipped.summary());
    }
    const std::vector<Dicom::Patient*>& patients = m_browserModel->patients();
    if (patients.empty()) {
        const QString text = !info.exists()         ? tr("No such file or folder: %1").arg(path)
                             : m_scanNote.isEmpty() ? tr("No DICOM data in %1").arg(path)
                                                    : tr("No DICOM data in %1: %2").arg(path, m_scanNote);
        DRAVELIN_LOG(3, "DICOM", "The given folder does not contain any DICOM data.");
        closeAlgorithm(false);
        tell(text);
        return;
    }
    if (patients.size() == 1 && patients.front()->studies.size() == 1 &&
        patients.front()->studies.front()->series.size() == 1 &&
        !patients.front()->studies.front()->series.front()->images.empty()) {
        const std::string location =
            DicomBrowserModel::retrieveLocationString({patients.front()->studies.front()->series.front()}, true);
        loadSingleLocation(QString::fromStdString(location));
        return;
    }
    DicomBrowser* browser = ensureBrowser();
    disconnect(m_browserModel, nullptr, this, nullptr);
    std::unique_ptr<DicomBrowserModel> model(m_browserModel);
    m_browserModel = nullptr;
    browser->setBrowserModel(std::move(model));
    browser->fixTabWidget(true, dicomDir, path.toStdString());
    if (browser->exec() != QDialog::Accepted) {
        m_algorithm->setStatus(Algorithm::Cancelled);
        closeAlgorithm(false);
        return;
    }
    const QString chosen = QString::fromStdString(browser->selectedSeriesUri());
    if (chosen.isEmpty()) {
        closeAlgorithm(false);
        return;
    }
    loadSingleLocation(chosen);
}

DicomBrowser* DicomIoController::ensureBrowser()
{
    if (!m_dicomBrowser) {
        m_dicomBrowser = new DicomBrowser(m_algorithm->cache(), mainWidget(), nullptr);
        // The main window owns it; a later controller must not find a deleted one.
        connect(m_dicomBrowser, &QObject::destroyed, [] { m_dicomBrowser = nullptr; });
    }
    return m_dicomBrowser;
}

void DicomIoController::runBrowserFlow(const QString& path)
{
    DicomBrowser* browser = ensureBrowser();
    QPointer<QDialog>& configDialog = configDialogOf(browser);
    if (configDialog)
        configDialog->deleteLater();
    configDialog = new Detail::AlgorithmConfigDialog(m_algorithm, browser);
    browser->setConfigDialog(configDialog);

    std::shared_ptr<Dicom::DatasetCache> cache = m_algorithm->cache();
    int handle = -1;
    if (cache) {
        browser->setDatasetCache(cache);
        handle = cache->addErrorCallback(&DicomIoController::logCacheError);
    }
    auto removeLogger = [&] {
        if (cache && handle >= 0)
            cache->removeErrorCallback(handle);
    };
    browser->selectNone();
    if (!path.isEmpty()) {
        browser->fixTabWidget(false, 0, path.toStdString());
        browser->scan();
    } else {
        browser->fixTabWidget(false, 0, std::string());
    }
    if (browser->exec() != QDialog::Accepted) {
        removeLogger();
        closeAlgorithm(false);
        return;
    }
    const QString chosen = QString::fromStdString(browser->selectedSeriesUri());
    removeLogger();
    if (chosen.isEmpty()) {
        closeAlgorithm(false);
        return;
    }
    loadSingleLocation(chosen);
}

void DicomIoController::loadSingleLocation(const QString& path)
{
    m_algorithm->setLocation(path);
    m_algorithm->compute();
    showFatalErrors();
    if (m_algorithm->status() == Algorithm::Success) {
        ApplicationController* app = applicationController();
        if (!app || !app->mainWidget()) {
            closeAlgorithm(true);
            return;
        }
        Properties config(QStringLiteral("Config"));
        m_algorithm->configuration(&config);
        app->addRecentFile(path, m_algorithm->id(), config);
        app->nameRecentFile(path, m_algorithm->id(), addToDataAndAnnotationModels(m_algorithm->takeOutput()));
        app->algorithmFinished(m_algorithm, true);
        closeAlgorithm(false);
        tell(m_scanNote);
        return;
    }
    if (!m_algorithm->location().isEmpty())
        QMessageBox::information(mainWidget(), tr("Load data"), tr("Could not load data"), QMessageBox::Ok);
    closeAlgorithm(false);
}

void DicomIoController::tell(const QString& text)
{
    if (ApplicationController* app = applicationController(); app && !text.isEmpty())
        app->showMessage(text);
}

void DicomIoController::runSaveFlow()
{
    DicomIoControllerExportDialog dialog(*m_algorithm, dataModel(), mainWidget());
    if (dialog.exec() != QDialog::Accepted) {
        closeAlgorithm(false);
        return;
    }
    showFatalErrors();
    const bool written = m_algorithm->status() == Algorithm::Success;
    if (!written)
        QMessageBox::information(mainWidget(), tr("Export data"), tr("Could not save data"), QMessageBox::Ok);
    closeAlgorithm(true);
    tell(written ? writtenText(dialog.datasets().size(), m_algorithm->location())
                 : tr("Nothing written to %1: %2").arg(m_algorithm->location(), firstFatalError()));
}

QString DicomIoController::writtenText(std::size_t files, const QString& location)
{
    const Filesystem::Url url(location.toStdString());
    const QString where = url.isLocalFile() ? QFile::decodeName(url.localFilePath().c_str()) : location;
    const QString count = files == 1 ? tr("1 file") : tr("%1 files").arg(files);
    if (url.scheme() == DicomPacsConfiguration::Scheme)
        return tr("%1 sent to %2").arg(count, where);
    return tr("%1 written to %2").arg(count, where);
}

QString DicomIoController::firstFatalError() const
{
    for (const Dicom::Error& error : m_algorithm->caughtErrors())
        if (error.type == Dicom::Error::Fatal)
            return QString::fromStdString(error.message);
    return tr("see the log");
}

void DicomIoController::showFatalErrors()
{
    QString text;
    for (const Dicom::Error& error : m_algorithm->caughtErrors())
        if (error.type == Dicom::Error::Fatal)
            text += QString::fromStdString(error.message) + "\n";
    if (text.isEmpty())
        return;

    auto* dialog = new QDialog(mainWidget(), Qt::Dialog);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setWindowTitle(tr("DICOM IO"));
    auto* layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(3, 5, 3, 6);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    auto* label = new QLabel(tr("A fatal error occured while loading DICOM files."), dialog);
    label->setAlignment(Qt::AlignCenter);
    label->setStyleSheet(QStringLiteral("QLabel { margin: 2px 4px 0px 4px; }"));
    layout->addWidget(label);

    auto* details = new QGroupBox(QStringLiteral("Details"), dialog);
    details->setStyleSheet(QStringLiteral("QGroupBox { font-weight: 400; font-size: 9pt; }"));
    auto* detailsLayout = new QVBoxLayout(details);
    auto* edit = new QTextEdit(details);
    edit->setObjectName(QStringLiteral("fatalErrors"));
    edit->setReadOnly(true);
    edit->setPlainText(text);
    // The edit's own document is laid out to the edit's width, which is not known before the
    // dialog is shown (it reads 2 x 2): measure the text in a document of its own, long lines
    // wrapped at 720 pixels, and let a list taller than 400 pixels scroll.
    QTextDocument measure;
    measure.setDefaultFont(edit->font());
    measure.setDocumentMargin(edit->document()->documentMargin());
    measure.setPlainText(text);
    measure.setTextWidth(std::min(std::ceil(measure.idealWidth()), 720.0));
    const QSizeF docSize(measure.textWidth(), std::min(measure.size().height(), 400.0));
    const QMargins margins = edit->contentsMargins();
    const int scrollBar = edit->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    edit->setFixedSize(static_cast<int>(std::ceil(docSize.width())) + margins.left() + margins.right() + scrollBar,
                       static_cast<int>(std::ceil(docSize.height())) + margins.top() + margins.bottom());
    detailsLayout->addWidget(edit);
    layout->addWidget(details);
    QtHelpers::makeExpandable(details);

    auto* row = new QHBoxLayout;
    row->addStretch();
    auto* ok = new QPushButton(QStringLiteral("Ok"), dialog);
    ok->setMinimumWidth(48);
    connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    row->addWidget(ok);
    row->addSpacing(5);
    layout->addLayout(row);

    dialog->exec();
    delete dialog;
}

void DicomIoController::onProgressRangeChanged(int min, int max)
{
    if (!m_progressTask)
        return;
    m_progressTask->setSteps(max);
    m_progressTask->setStep(min);
}

void DicomIoController::onProgressValueChanged(int value)
{
    if (!m_progressTask)
        return;
    m_progressTask->setStep(value);
    if (m_progressTask->wasCancelled() && m_browserModel) {
        m_browserModel->cancelScan(std::chrono::milliseconds(0));
        m_scanCancelled = true;
    }
}

void DicomIoController::onProgressTextChanged(QString text)
{
    if (m_progressTask)
        m_progressTask->setDescription(text.toUtf8().toStdString());
}

}  // namespace Dravelin

#include "moc_DicomIoController.cpp"
