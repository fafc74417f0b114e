#include "editor/DicomEditor.h"

#include "browser/models/DicomBrowserModel.h"
#include "editor/BurnedInTextPreview.h"
#include "editor/ConfidentialityProfile.h"
#include "editor/DicomEditorAlgorithm.h"
#include "editor/DicomEditorConversion.h"
#include "editor/OverrideConfidentialityDialog.h"
#include "host/app/ApplicationController.h"
#include "host/core/Log.h"
#include "host/core/Progress.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/deid/BurnedInTextRemoval.h"
#include "host/dicom/deid/PixelCleaningRules.h"
#include "host/ui/ProgressWidget.h"
#include "scanning/Image.h"
#include "scanning/Series.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeView>
#include <QtConcurrent>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcitem.h>

namespace Dravelin {

namespace {

const char* const kOutputFolderKey = "lastDir/dicomEditorOutputFolder";

// Lets the conversion report into one Progress::Task: one step per image location.
class TaskProgress : public Progress
{
public:
    explicit TaskProgress(Progress::Task& task) : m_task(task) {}
    void setRange(long long) override {}
    void setText(const std::string&) override {}
    void setValue(long long value) override { m_task.setStep(static_cast<int>(value)); }
    bool wasCancelled() const override { return m_task.wasCancelled(); }

private:
    Progress::Task& m_task;
};

}  // namespace

DicomEditor::DicomEditor(DicomEditorAlgorithm* algorithm, QWidget* parent)
    : DicomBrowser(nullptr, parent, nullptr),
      AlgorithmController(algorithm),
      m_algorithm(algorithm),
      m_cache(std::make_shared<Dicom::DatasetCache>(2048))
{
    setWindowTitle(tr("Dicom Editor"));

    // Sources: the input folder and DICOMweb; a DICOMDIR or a PACS has no folder to mirror.
    auto* sources = findChild<QTabWidget*>(QStringLiteral("tabWidget"));
    sources->removeTab(PacsTab);
    sources->removeTab(DicomDirTab);
    sources->setTabText(0, tr("Input Directory"));
    auto* useDicomdir = findChild<QCheckBox*>(QStringLiteral("useDicomdirCheckBox"));
    useDicomdir->setChecked(false);
    useDicomdir->hide();

    // Bottom row: [scan progress] [spacer] "Confidentiality Profile:" [name] [buttons].
    auto* bottom = findChild<QHBoxLayout*>(QStringLiteral("horizontalLayout_4"));
    auto* buttons = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    for (int i = 0; i < bottom->count(); ++i)
        if (QSpacerItem* spacer = bottom->itemAt(i)->spacerItem())
            spacer->changeSize(0, 0, QSizePolicy::Expanding, QSizePolicy::Minimum);
    buttons->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Minimum);
    m_profileLabel = new QLabel(m_algorithm->confidentialityProfile->profileName.value(), this);
    m_profileLabel->setObjectName(QStringLiteral("profileLabel"));
    bottom->insertWidget(2, new QLabel(tr("Confidentiality Profile:"), this));
    bottom->insertWidget(3, m_profileLabel);
    m_progress = new ProgressWidget(this);
    m_progress->setObjectName(QStringLiteral("conversionProgress"));
    m_progress->hide();
    bottom->insertWidget(1, m_progress, 1);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("Anonymize"));

    const auto& profile = m_algorithm->confidentialityProfile.value();
    m_profileDialog = std::make_unique<OverrideConfidentialityDialog>(profile.profileName, profile.profilePath);
    m_profileDialog->signalProfileChanged.connect([this] { applyProfile(); });
    applyProfile();
    setConfigDialog(m_profileDialog.get());

    // Output folder, as a tab below the sources.
    auto* outputPage = new QWidget;
    auto* outputLayout = new QVBoxLayout(outputPage);
    auto* row = new QHBoxLayout;
    m_outputDir = new QLineEdit(QSettings().value(kOutputFolderKey).toString());
    m_outputDir->setObjectName(QStringLiteral("outputDirectoryEdit"));
    connect(m_outputDir, &QLineEdit::textChanged, this,
            [](const QString& text) { QSettings().setValue(kOutputFolderKey, text); });
    auto* choose = new QToolButton;
    choose->setObjectName(QStringLiteral("outputDirectoryButton"));
    choose->setText(QStringLiteral("..."));
    connect(choose, &QToolButton::clicked, this, &DicomEditor::chooseOutputDirectory);
    row->addWidget(m_outputDir);
    row->addWidget(choose);
    outputLayout->addLayout(row);
    m_keepPrivateTags = new QCheckBox(tr("Keep private tags"));
    m_keepPrivateTags->setObjectName(QStringLiteral("keepPrivateTagsCheckBox"));
    outputLayout->addWidget(m_keepPrivateTags);
    auto* cleanRow = new QHBoxLayout;
    cleanRow->addWidget(new QLabel(tr("Clean burned-in text:")));
    m_cleanPixels = new QComboBox;
    m_cleanPixels->setObjectName(QStringLiteral("cleanPixelsComboBox"));
    m_cleanPixels->addItems({tr("Off"), tr("Find text (OCR)"), tr("Region file"), tr("Region file, then find text")});
    m_regionFile = new QLineEdit;
    m_regionFile->setObjectName(QStringLiteral("regionFileEdit"));
    m_regionFile->setPlaceholderText(tr("Region file (.json)"));
    auto* chooseRegions = new QToolButton;
    chooseRegions->setText(QStringLiteral("..."));
    connect(chooseRegions, &QToolButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(this, tr("Region file"), QString(), tr("JSON (*.json)"));
        if (!file.isEmpty())
            m_regionFile->setText(file);
    });
    auto* preview = new QPushButton(tr("Preview..."));
    preview->setObjectName(QStringLiteral("cleanPixelsPreviewButton"));
    connect(preview, &QPushButton::clicked, this, &DicomEditor::previewBurnedIn);
    const auto enable = [this, chooseRegions, preview](int choice) {
        m_regionFile->setEnabled(choice >= 2);
        chooseRegions->setEnabled(choice >= 2);
        preview->setEnabled(choice > 0);
    };
    connect(m_cleanPixels, QOverload<int>::of(&QComboBox::currentIndexChanged), this, enable);
    enable(0);
    cleanRow->addWidget(m_cleanPixels);
    cleanRow->addWidget(m_regionFile, 1);
    cleanRow->addWidget(chooseRegions);
    cleanRow->addWidget(preview);
    outputLayout->addLayout(cleanRow);
    m_outputTabs = new QTabWidget;
    m_outputTabs->setObjectName(QStringLiteral("outputTabWidget"));
    m_outputTabs->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    m_outputTabs->addTab(outputPage, tr("Output Directory"));
    auto* main = qobject_cast<QBoxLayout*>(layout());
    main->insertWidget(main->indexOf(sources) + 1, m_outputTabs);

    // One interaction: the window closing either way ends it.
    connect(this, &QDialog::finished, this, [this](int result) {
        m_algorithm->setStatus(result == QDialog::Accepted ? Algorithm::Success : Algorithm::Cancelled);
        closeAlgorithm(result == QDialog::Accepted);
        // After the application's own "finished" note, which says nothing of the files.
        if (ApplicationController* app = applicationController(); app && result == QDialog::Accepted)
            app->showMessage(m_outcome);
    });
}

DicomEditor::~DicomEditor() = default;

void DicomEditor::init()
{
    if (QWidget* window = mainWidget())
        setParent(window, windowFlags());
    show();
}

std::vector<int> DicomEditor::supportedLocations() const
{
    return {OwnWindow};
}

int DicomEditor::preferredLocation() const
{
    return OwnWindow;
}

void DicomEditor::applyProfile()
{
    const QString name = m_profileDialog->currentName();
    m_algorithm->confidentialityProfile->setTable(name, m_profileDialog->currentPath(), m_profileDialog->actionTable());
    m_profileLabel->setText(name);
    // Anything but the standard profile stands out.
    m_profileLabel->setStyleSheet(
        name == ConfidentialityProfile::basicProfileName ? QString() : QStringLiteral("QLabel {color : orange; }"));
}

Dicom::DeidentificationActionTable DicomEditor::actionTable() const
{
    Properties configuration;
    m_algorithm->configuration(&configuration);
    const Properties* block = configuration.subProperties(QStringLiteral("confidentialityProfile"));
    return block ? ConfidentialityProfile::actionTable(*block) : Dicom::DeidentificationActionTable();
}

void DicomEditor::chooseOutputDirectory()
{
    const QString folder =
        QFileDialog::getExistingDirectory(this, tr("Select directory"), currentPath(), QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty())
        m_outputDir->setText(folder);
}

void DicomEditor::accept()
{
    if (m_converting)
        return;
    const QString outputText = m_outputDir->text();
    if (outputText.isEmpty()) {
        QMessageBox::critical(this, tr("Missing output folder"), tr("Please enter a valid output directory."),
                              QMessageBox::Ok);
        return;
    }
    if (QFileInfo::exists(outputText) && !QFileInfo(outputText).isDir()) {
        QMessageBox::critical(this, tr("Invalid output folder"), tr("Output directory cannot be a file."),
                              QMessageBox::Ok);
        return;
    }
    const QString input = currentPath();
    const QDir inputDir(input);
    const QDir outputDir(outputText);
    QMessageBox::StandardButton answer = QMessageBox::Yes;
    // A new run into an unfinished one would give the rest of its files other identifiers.
    const bool resume = DicomEditorConversion::hasUnfinishedRun(outputText);
    if (resume) {
        answer = QMessageBox::question(
            this, tr("Unfinished de-identification"),
            tr("The output folder holds an unfinished de-identification run. Resume it? The files it wrote "
               "are kept and the others get the same new identifiers."),
            QMessageBox::Yes | QMessageBox::No);
    } else if (inputDir == outputDir) {
        answer = QMessageBox::question(this, tr("Overwrite existing files"),
                                       tr("You specified the same folder for input and output. Are you sure you "
                                          "want to replace all files in the input folder?"),
                                       QMessageBox::Yes | QMessageBox::No);
    } else if (!outputDir.entryList(QDir::AllEntries | QDir::Drives | QDir::NoDotAndDotDot).isEmpty()) {
        answer = QMessageBox::question(
            this, tr("Overwrite existing files"),
            tr("The output folder is not empty. Are you sure you want to overwrite existing files?"),
            QMessageBox::Yes | QMessageBox::No);
    }
    if (answer != QMessageBox::Yes)
        return;
    QString cleaningError;
    const auto cleaning = pixelCleaning(&cleaningError);
    if (!cleaningError.isEmpty()) {
        QMessageBox::critical(this, tr("Region file"), cleaningError, QMessageBox::Ok);
        return;
    }
    // The burned-in files the cleaning covers are cleaned (those whose pixels cannot be are
    // logged); the user decides about the others.
    if (!askAboutBurnedIn(cleaning.get()))
        return;

    if (!convert(input, outputText, resume)) {
        QMessageBox box(QMessageBox::Critical, tr("Error"), tr("Not all files could be saved. See log for details"),
                        QMessageBox::Ok, this);
        box.setInformativeText(m_outcome);
        box.exec();
        return;
    }
    DicomBrowser::accept();
}

void DicomEditor::reject()
{
    if (!m_converting)
        DicomBrowser::reject();
}

void DicomEditor::setConverting(bool converting)
{
    m_converting = converting;
    // The choice of files, folders and profile stays as it was until the conversion ends.
    for (const char* name : {"tabWidget", "splitter", "buttonBox", "outputTabWidget"})
        if (auto* widget = findChild<QWidget*>(QLatin1String(name)))
            widget->setEnabled(!converting);
}

std::vector<const Dicom::Series*> DicomEditor::chosenSeries() const
{
    std::vector<const Dicom::Series*> series;
    for (const Dicom::Series* s : browserModel()->selectedSeries())
        series.push_back(s);
    // Nothing checked: the series rows selected in the tree, as "Anonymize" was enabled for them.
    if (series.empty())
        if (auto* view = findChild<QTreeView*>(QStringLiteral("view")))
            for (const QModelIndex& row : view->selectionModel()->selectedRows(0))
                if (auto* s = row.data(DicomBrowserModel::SeriesRole).value<Dicom::Series*>())
                    series.push_back(s);
    return series;
}

namespace {

// What the scan read of an image's header, as the cleaning asks for it.
void fillHeader(DcmItem& header, const Dicom::Series& series, const Dicom::Image& image)
{
    header.clear();
    header.putAndInsertString(DCM_SeriesInstanceUID, series.seriesInstanceUid.toLatin1().constData());
    header.putAndInsertString(DCM_BurnedInAnnotation, image.burnedInAnnotation ? "YES" : "");
    header.putAndInsertString(DCM_Modality, series.modality.toLatin1().constData());
    header.putAndInsertString(DCM_ImageType, image.imageType.toLatin1().constData());
    header.putAndInsertString(DCM_Manufacturer, image.manufacturer.toUtf8().constData());
    header.putAndInsertString(DCM_ManufacturerModelName, image.manufacturerModelName.toUtf8().constData());
    bool ok = false;
    if (const int rows = image.height.toInt(&ok); ok)
        header.putAndInsertUint16(DCM_Rows, static_cast<Uint16>(rows));
    if (const int columns = image.width.toInt(&ok); ok)
        header.putAndInsertUint16(DCM_Columns, static_cast<Uint16>(columns));
}

}  // namespace

bool DicomEditor::askAboutBurnedIn(const Dicom::BurnedInTextRemoval* cleaning)
{
    m_skipBurnedIn = false;
    QStringList files;
    DcmItem header;
    for (const Dicom::Series* series : chosenSeries())
        for (const Dicom::Image* image : series->images) {
            if (!image->burnedInAnnotation)
                continue;
            if (cleaning) {
                fillHeader(header, *series, *image);
                if (cleaning->covers(header))
                    continue;
            }
            files << (image->location.isLocalFile() ? QFile::decodeName(image->location.localFilePath().c_str())
                                                    : QString::fromStdString(image->location.string()));
        }
    if (files.isEmpty())
        return true;
    // The scan read every header already: the list costs no I/O here.
    const QString question =
        cleaning ? tr("%n file(s) show text in their pixels (burned-in annotation) that the cleaning does not cover "
                      "(no rule of the region file applies to them): they may still identify the patient. Written, "
                      "they get Patient Identity Removed \"NO\".",
                      nullptr, files.size())
                 : tr("%n file(s) show text in their pixels (burned-in annotation), which is not removed: they may "
                      "still identify the patient. Written, they get Patient Identity Removed \"NO\".",
                      nullptr, files.size());
    QMessageBox box(QMessageBox::Warning, tr("Burned-in annotation"), question, QMessageBox::Cancel, this);
    box.setObjectName(QStringLiteral("burnedInQuestion"));
    box.setDetailedText(files.join(QLatin1Char('\n')));
    QPushButton* write = box.addButton(tr("Write them"), QMessageBox::AcceptRole);
    QPushButton* skip = box.addButton(tr("Leave them out"), QMessageBox::RejectRole);
    box.setDefaultButton(skip);
    box.exec();
    m_skipBurnedIn = box.clickedButton() == skip;
    return box.clickedButton() == write || box.clickedButton() == skip;
}

std::shared_ptr<Dicom::BurnedInTextRemoval> DicomEditor::pixelCleaning(QString* error) const
{
    const int choice = m_cleanPixels->currentIndex();
    if (choice <= 0)
        return nullptr;
    std::shared_ptr<const Dicom::PixelCleaningRules> rules;
    if (choice >= 2) {
        rules = Dicom::PixelCleaningRules::load(m_regionFile->text(), error);
        if (!rules)
            return nullptr;
    }
    auto removal = std::make_shared<Dicom::BurnedInTextRemoval>(rules, choice != 2);
    removal->setSeriesRegions(m_seriesRegions);
    return removal;
}

void DicomEditor::previewBurnedIn()
{
    const Dicom::Series* series = nullptr;
    if (auto* view = findChild<QTreeView*>(QStringLiteral("view")))
        series = view->currentIndex().siblingAtColumn(0).data(DicomBrowserModel::SeriesRole).value<Dicom::Series*>();
    if (!series) {
        const auto chosen = chosenSeries();
        series = chosen.empty() ? nullptr : chosen.front();
    }
    if (!series || series->images.empty()) {
        QMessageBox::information(this, tr("Clean burned-in text"), tr("Select a series to preview."), QMessageBox::Ok);
        return;
    }
    QString error;
    const auto removal = pixelCleaning(&error);
    if (!removal) {
        QMessageBox::critical(this, tr("Region file"), error, QMessageBox::Ok);
        return;
    }
    BurnedInTextPreview preview(this);
    preview.setObjectName(QStringLiteral("burnedInPreview"));
    preview.load(series->images.front()->location, removal, m_cache);
    if (preview.exec() == QDialog::Accepted)
        m_seriesRegions[series->seriesInstanceUid.toStdString()] = preview.regions();
}

bool DicomEditor::convert(const QString& input, const QString& output, bool resume)
{
    const auto locations = DicomEditorConversion::locationsOf(chosenSeries());

    auto conversion =
        std::make_shared<DicomEditorConversion>(input, output, actionTable(), m_keepPrivateTags->isChecked(), m_cache);
    conversion->setProfileName(m_profileDialog->methodName());
    conversion->setSkipBurnedIn(m_skipBurnedIn);
    QString cleaningError;
    if (auto cleaning = pixelCleaning(&cleaningError))
        conversion->setPixelCleaning(cleaning, m_cleanPixels->currentText() + " " + m_regionFile->text());
    if (const QString error = conversion->start(resume); !error.isEmpty()) {
        DRAVELIN_LOG(4, "DICOM", "Could not start: " + error);
        return false;
    }

    Progress* reporter = m_algorithm->progress();
    if (!reporter && applicationController())
        reporter = applicationController()->progress();
    if (!reporter) {
        reporter = m_progress;
        m_progress->show();
    }
    auto task = std::make_shared<Progress::Task>(reporter, static_cast<int>(locations.size()),
                                                 tr("Converting Files...").toStdString());
    setConverting(true);
    // The files are read and written on worker threads; this loop keeps the window painting
    // and the cancel button working meanwhile.
    QFutureWatcher<DicomEditorConversion::Summary> watcher;
    QEventLoop loop;
    connect(&watcher, &QFutureWatcher<DicomEditorConversion::Summary>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(QtConcurrent::run([conversion, locations, task] {
        TaskProgress progress(*task);
        return conversion->run(locations, &progress);
    }));
    if (!watcher.isFinished())
        loop.exec();
    const DicomEditorConversion::Summary summary = watcher.result();
    task->finish();
    m_progress->hide();
    setConverting(false);
    m_outcome = summary.outcome(output);
    DRAVELIN_LOG(1, "DICOM",
                 QStringLiteral("De-identified %1 files into %2 (%3 failed)%4")
                     .arg(summary.written)
                     .arg(output)
                     .arg(summary.failed)
                     .arg(summary.cancelled ? QStringLiteral(", cancelled") : QString()));
    return summary.complete();
}

}  // namespace Dravelin

#include "moc_DicomEditor.cpp"
