#include "plugin/DicomIoControllerExportDialog.h"

#include "browser/models/QtHelpers.h"
#include "host/core/Log.h"
#include "host/data/DataList.h"
#include "host/data/DataModel.h"
#include "host/data/SharedImageSet.h"
#include "host/dicom/dimse/DicomPacsConfiguration.h"
#include "host/dicom/DicomPluginSettings.h"
#include "host/dicom/Element.h"
#include "host/dicom/TagProxy.h"
#include "host/dicom/Utils.h"
#include "host/dicom/io/DicomIoAlgorithm.h"
#include "host/dicom/io/Extension.h"
#include "ui_DicomIoControllerExportDialog.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcsequen.h>

#include <algorithm>
#include <vector>

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QMessageBox>
#include <QSettings>
#include <QStandardItemModel>

namespace Dravelin {

namespace {

struct CompressionChoice
{
    const char* text;
    Dicom::Compression value;
};

// The two JPEG-LS entries are listed near-lossless first.
const CompressionChoice compressionChoices[] = {
    {QT_TRANSLATE_NOOP("DicomIoControllerExportDialog", "Little Endian (Implicit - DICOM Default)"),
     Dicom::Compression::ImplicitLittleEndian},
    {QT_TRANSLATE_NOOP("DicomIoControllerExportDialog", "Little Endian (Explicit)"),
     Dicom::Compression::ExplicitLittleEndian},
    {QT_TRANSLATE_NOOP("DicomIoControllerExportDialog", "Deflated Little Endian (Explicit)"),
     Dicom::Compression::DeflatedLittleEndian},
    {QT_TRANSLATE_NOOP("DicomIoControllerExportDialog", "Big Endian (Explicit)"),
     Dicom::Compression::ExplicitBigEndian},
    {QT_TRANSLATE_NOOP("DicomIoControllerExportDialog", "JPEG (Lossy)"), Dicom::Compression::JpegLossy},
    {QT_TRANSLATE_NOOP("DicomIoControllerExportDialog", "JPEG (Lossless)"), Dicom::Compression::JpegLossless},
    {QT_TRANSLATE_NOOP("DicomIoControllerExportDialog", "JPEG-LS (Lossy - Near-Lossless)"),
     Dicom::Compression::JpegLsNearLossless},
    {QT_TRANSLATE_NOOP("DicomIoControllerExportDialog", "JPEG-LS (Lossiness - DICOM Default for lossless JPEG)"),
     Dicom::Compression::JpegLsLossless},
    {QT_TRANSLATE_NOOP("DicomIoControllerExportDialog", "JPEG 2000 (Lossy)"), Dicom::Compression::Jpeg2000Lossy},
    {QT_TRANSLATE_NOOP("DicomIoControllerExportDialog", "JPEG 2000 (Lossless)"), Dicom::Compression::Jpeg2000Lossless},
};

// Date fields show an empty text for an absent date instead of the editor's default day, and
// write an empty value back for it.
const QDate NoDate(1800, 1, 1);

void setDateOf(QDateEdit* edit, const QDate& date)
{
    edit->setDate(date.isValid() ? date : NoDate);
}

QString dateText(const QDateEdit* edit)
{
    return edit->date() == NoDate ? QString() : edit->date().toString(QStringLiteral("yyyyMMdd"));
}

const char* const FileKey = "lastDir/saveDicomFile";
const char* const FolderKey = "lastDir/saveDicomFolder";
const char* const TagsFileKey = "lastDir/loadDicomTagsFile";

QString textOf(DcmItem& item, const DcmTagKey& tag)
{
    return Dicom::Element<QString>(item, DcmTag(tag), Dicom::ElementBase::Type(1), false).value(QString());
}

void setTextOf(DcmItem& item, const DcmTagKey& tag, const QString& value)
{
    Dicom::Element<QString>(item, DcmTag(tag), Dicom::ElementBase::Type(1), false).setValue(value);
}

template <typename T>
std::vector<T> withoutAdjacentRepeats(std::vector<T> values)
{
    values.erase(std::unique(values.begin(), values.end()), values.end());
    return values;
}

}  // namespace

DicomIoControllerExportDialog::DicomIoControllerExportDialog(DicomIoAlgorithm& algorithm, const DataModel* dataModel,
                                                             QWidget* parent)
    : QDialog(parent), m_algorithm(algorithm), m_dataModel(dataModel), m_ui(new Ui_DicomIoControllerExportDialog)
{
    m_ui->setupUi(this);
    // The three forms of page 2 sit one above the other: one label width lines up their fields.
    int labelWidth = 0;
    const std::vector<QFormLayout*> forms = {m_ui->patientGroupLayout, m_ui->studyGroupLayout, m_ui->seriesGroupLayout};
    for (QFormLayout* form : forms)
        for (int row = 0; row < form->rowCount(); ++row)
            if (QLayoutItem* label = form->itemAt(row, QFormLayout::LabelRole); label && label->widget())
                labelWidth = std::max(labelWidth, label->widget()->sizeHint().width());
    for (QFormLayout* form : forms)
        for (int row = 0; row < form->rowCount(); ++row)
            if (QLayoutItem* label = form->itemAt(row, QFormLayout::LabelRole); label && label->widget())
                label->widget()->setMinimumWidth(labelWidth);
    m_referencedModel = new QStandardItemModel(this);
    m_ui->referencedImagesListView->setModel(m_referencedModel);
    m_ui->referencedImagesListView->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* addFilesAction = new QAction(tr("Add Files"), m_ui->referencedImagesListView);
    m_ui->referencedImagesListView->addAction(addFilesAction);
    connect(addFilesAction, &QAction::triggered, this, &DicomIoControllerExportDialog::addFiles);

    for (const CompressionChoice& choice : compressionChoices)
        m_ui->compressionComboBox->addItem(tr(choice.text), static_cast<int>(choice.value));
    m_ui->compressionComboBox->setCurrentIndex(0);

    connect(m_ui->compressionComboBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
            qOverload<int>(&DicomIoControllerExportDialog::setCompression));
    connect(m_ui->qualitySlider, &QSlider::valueChanged, this, &DicomIoControllerExportDialog::setQuality);
    connect(m_ui->exportButton, &QPushButton::clicked, this, &DicomIoControllerExportDialog::accept);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &DicomIoControllerExportDialog::reject);
    connect(m_ui->backButton, &QPushButton::clicked, this, &DicomIoControllerExportDialog::gotoPage1);
    connect(m_ui->nextButton, &QPushButton::clicked, this, &DicomIoControllerExportDialog::gotoPage2);
    connect(m_ui->loadTagsButton, &QPushButton::clicked, this, &DicomIoControllerExportDialog::loadTags);
    connect(m_ui->pathButton, &QToolButton::clicked, this, &DicomIoControllerExportDialog::choosePath);
    connect(m_ui->urlTabWidget, &QTabWidget::currentChanged, this, &DicomIoControllerExportDialog::onTabWidgetChanged);
    connect(m_ui->infoTabWidget, &QTabWidget::currentChanged, this,
            &DicomIoControllerExportDialog::onInfoTabWidgetIndexChanged);
    for (QLineEdit* edit : {m_ui->patientName, m_ui->patientID, m_ui->patientComment, m_ui->studyID,
                            m_ui->studyDescription, m_ui->seriesNumber, m_ui->seriesDescription})
        connect(edit, &QLineEdit::textChanged, this, &DicomIoControllerExportDialog::onInfoWidgetChanged);
    for (QDateEdit* edit : {m_ui->patientBirthDate, m_ui->studyDate, m_ui->seriesDate}) {
        edit->setMinimumDate(NoDate);
        edit->setSpecialValueText(QStringLiteral(" "));
        setDateOf(edit, QDate());
    }
    for (QDateEdit* edit : {m_ui->patientBirthDate, m_ui->studyDate, m_ui->seriesDate})
        connect(edit, &QDateEdit::dateChanged, this, &DicomIoControllerExportDialog::onInfoWidgetChanged);
    connect(m_ui->seriesTime, &QTimeEdit::timeChanged, this, &DicomIoControllerExportDialog::onInfoWidgetChanged);
    connect(m_ui->patientSex, &QComboBox::currentTextChanged, this,
            &DicomIoControllerExportDialog::onInfoWidgetChanged);

    gotoPage1();
}

DicomIoControllerExportDialog::~DicomIoControllerExportDialog()
{
    delete m_ui;
}

void DicomIoControllerExportDialog::gotoPage1()
{
    if (!m_datasets.empty()) {
        const auto answer = QMessageBox::question(
            this, tr("Discard changes?"),
            tr("Returning to the extensions selection will discard any changes. Do you want to discard your changes?"),
            QMessageBox::Cancel, QMessageBox::Discard);
        if (answer != QMessageBox::Discard)
            return;
        m_datasets.clear();
        m_ui->tags->setDatasets({});
    }

    auto* extensions = new QStandardItemModel(this);
    for (Dicom::Extension* extension : m_algorithm.registry().extensions()) {
        if (!extension || !extension->showInWriterUI())
            continue;
        auto* row = new QStandardItem(QString::fromStdString(extension->name()));
        row->setCheckable(true);
        row->setEditable(false);
        row->setCheckState(extension->isEnabled() ? Qt::Checked : Qt::Unchecked);
        row->setData(QVariant::fromValue(static_cast<void*>(extension)), Qt::UserRole);
        extensions->appendRow(row);
    }
    if (QAbstractItemModel* previous = m_ui->extensionsListView->model())
        previous->deleteLater();
    m_ui->extensionsListView->setModel(extensions);
    connect(extensions, &QStandardItemModel::itemChanged, this, [](QStandardItem* item) {
        if (auto* extension = static_cast<Dicom::Extension*>(item->data(Qt::UserRole).value<void*>()))
            extension->setEnabled(item->checkState() == Qt::Checked);
    });

    if (m_dataModel) {
        const DataList all(m_dataModel->getAll(0, 0));
        const std::vector<SharedImageSet*>& referenced = m_algorithm.referencedImages();
        for (SharedImageSet* image : all.getImages(0, 0)) {
            if (image == m_algorithm.inputImage())
                continue;
            auto* row = new QStandardItem(image->name());
            row->setCheckable(true);
            row->setEditable(false);
            const bool isReferenced = std::find(referenced.begin(), referenced.end(), image) != referenced.end();
            row->setCheckState(isReferenced ? Qt::Checked : Qt::Unchecked);
            row->setData(true, IsImageRole);
            row->setData(QVariant::fromValue(static_cast<void*>(image)), ImageSetRole);
            m_referencedModel->appendRow(row);
        }
    }
    m_ui->stackedWidget->setCurrentWidget(m_ui->extensionsPage);
}

void DicomIoControllerExportDialog::addFiles()
{
    const QStringList files = QFileDialog::getOpenFileNames(this, QStringLiteral("Select files"), QString(), QString());
    for (const QString& file : files) {
        if (!Dicom::Utils::hasDicomHeader(file.toStdString())) {
            DRAVELIN_LOG(4, "DICOM", "Non-dicom files cannot be added as a reference");
            continue;
        }
        auto* row = new QStandardItem(file);
        row->setCheckable(true);
        row->setEditable(false);
        row->setCheckState(Qt::Checked);
        row->setData(false, IsImageRole);
        m_referencedModel->appendRow(row);
    }
}

void DicomIoControllerExportDialog::gotoPage2()
{
    setCompression(m_algorithm.compression());
    setQuality(m_algorithm.compressionQuality());

    std::vector<SharedImageSet*> images = m_algorithm.referencedImages();
    std::vector<std::string> files;
    for (int r = 0; r < m_referencedModel->rowCount(); ++r) {
        const QStandardItem* row = m_referencedModel->item(r);
        if (row->checkState() != Qt::Checked)
            continue;
        if (row->data(IsImageRole).toBool())
            images.push_back(static_cast<SharedImageSet*>(row->data(ImageSetRole).value<void*>()));
        else
            files.push_back(row->text().toStdString());
    }
    m_algorithm.setReferencedImages(withoutAdjacentRepeats(std::move(images)));
    m_algorithm.setReferencedFiles(withoutAdjacentRepeats(std::move(files)));

    m_datasets = m_algorithm.createDatasetsToWrite();
    if (m_datasets.empty()) {
        QMessageBox::critical(this, tr("Unsupported file"),
                              tr("The input image is not supported by the DICOM export. This is usually an issue "
                                 "with the modality or the dimensions of the image. Some images can also just be "
                                 "exported as a file and not a folder or vice versa"),
                              QMessageBox::Ok);
        reject();
        return;
    }
    m_ui->tags->setDatasets(m_datasets);
    m_ui->tags->setEditable(true);
    m_singleFile = m_datasets.size() == 1;
    m_ui->pathEdit->setText(m_algorithm.location());
    m_ui->urlTabWidget->setTabText(0, m_singleFile ? tr("File") : tr("Folder"));
    if (m_ui->pathEdit->text().isEmpty())
        m_ui->pathEdit->setText(QSettings().value(m_singleFile ? FileKey : FolderKey, QString()).toString());

    updateAvailablePacsServers();
    onInfoTabWidgetIndexChanged(m_ui->infoTabWidget->currentIndex());
    m_ui->stackedWidget->setCurrentWidget(m_ui->tagsPage);
}

void DicomIoControllerExportDialog::choosePath()
{
    const QString current = m_ui->pathEdit->text();
    const QString chosen = m_singleFile ? QFileDialog::getSaveFileName(this, tr("Select file..."), current, QString(),
                                                                       nullptr, QFileDialog::DontConfirmOverwrite)
                                        : QFileDialog::getExistingDirectory(this, tr("Select directory..."), current,
                                                                            QFileDialog::ShowDirsOnly);
    if (!chosen.isEmpty())
        m_ui->pathEdit->setText(chosen);
}

void DicomIoControllerExportDialog::setCompression(int comboIndex)
{
    bool ok = false;
    const int value = m_ui->compressionComboBox->itemData(comboIndex, Qt::UserRole).toInt(&ok);
    setCompression(static_cast<Dicom::Compression>(ok ? value : 0));
}

void DicomIoControllerExportDialog::setCompression(Dicom::Compression compression)
{
    m_algorithm.setCompression(compression);
    const bool lossy = !Dicom::isLosslessCompression(compression);
    m_ui->qualityLabel->setEnabled(lossy);
    m_ui->qualityControl->setEnabled(lossy);
}

Dicom::Compression DicomIoControllerExportDialog::compression() const
{
    return m_algorithm.compression();
}

void DicomIoControllerExportDialog::setQuality(int quality)
{
    m_algorithm.setCompressionQuality(quality);
    m_ui->qualitySliderLabel->setText(QStringLiteral("%1%").arg(m_algorithm.compressionQuality()));
}

int DicomIoControllerExportDialog::quality() const
{
    return m_algorithm.compressionQuality();
}

void DicomIoControllerExportDialog::onTabWidgetChanged(int index)
{
    if (index == 1) {
        const bool none = DicomPluginSettings().pacsServers().empty();
        m_ui->exportButton->setEnabled(!none);
        if (none)
            QMessageBox::information(this, tr("No PACS servers configured"),
                                     tr("Please configure at least one PACS server in the Settings."), QMessageBox::Ok);
    } else {
        m_ui->exportButton->setEnabled(true);
    }
}

void DicomIoControllerExportDialog::updateAvailablePacsServers()
{
    m_ui->pacsServersComboBox->clear();
    for (const DicomPluginSettings::PacsServer& server : DicomPluginSettings().pacsServers())
        m_ui->pacsServersComboBox->addItem(QString::fromStdString(server.name));
}

Filesystem::Url DicomIoControllerExportDialog::exportUrl() const
{
    const int tab = m_ui->urlTabWidget->currentIndex();
    if (tab == 0)
        return Filesystem::Url::fromLocalFile(m_ui->pathEdit->text().toUtf8().toStdString());
    if (tab != 1)
        return {};
    const std::string name = m_ui->pacsServersComboBox->currentText().toStdString();
    for (const DicomPluginSettings::PacsServer& server : DicomPluginSettings().pacsServers())
        if (server.name == name)
            return DicomPacsConfiguration(server.hostname, server.port, server.aeTitle, server.useCGet).generateUri({});
    DRAVELIN_LOG(4, "DICOM", "The selected PACS server does not seem to part of the configured PACS servers: " + name);
    return {};
}

void DicomIoControllerExportDialog::accept()
{
    const Filesystem::Url url = exportUrl();
    if (url.scheme() == "file") {
        const QString path = QFile::decodeName(url.localFilePath().c_str());
        if (QFileInfo::exists(path)) {
            const QString text =
                m_singleFile ? tr("The file %1 already exists.\nDo you want to overwrite it?").arg(path)
                             : tr("The folder %1 already exists.\nAny files contained in this folder might be "
                                  "overwritten. Also existing files might interfere with loading the DICOMs again. "
                                  "Do you want to continue?")
                                   .arg(path);
            if (QMessageBox::question(this, tr("Overwrite?"), text, QMessageBox::Yes | QMessageBox::No) !=
                QMessageBox::Yes)
                return;
        }
        QSettings().setValue(m_singleFile ? FileKey : FolderKey, path);
    }
    m_algorithm.setLocation(QString::fromStdString(url.string()));
    m_algorithm.compute();
    if (m_algorithm.status() != 0) {
        QMessageBox box(QMessageBox::Critical, tr("Failure"),
                        tr("The DICOM files could not be written. Please check the log for details."), QMessageBox::Ok,
                        this);
        // What failed, where the user is looking.
        QStringList reasons;
        for (const Dicom::Error& error : m_algorithm.caughtErrors())
            if (error.type == Dicom::Error::Fatal)
                reasons << QString::fromStdString(error.message);
        box.setInformativeText(reasons.join(QLatin1Char('\n')));
        box.exec();
        return;
    }
    QDialog::accept();
}

void DicomIoControllerExportDialog::onInfoTabWidgetIndexChanged(int index)
{
    if (index == 1) {
        m_ui->tags->reloadTags();
        return;
    }
    if (index != 0)
        return;
    const std::shared_ptr<DcmDataset> source =
        m_datasets.empty() || !m_datasets.front() ? std::make_shared<DcmDataset>() : m_datasets.front();
    DcmDataset& ds = *source;
    m_ui->patientName->setText(textOf(ds, DCM_PatientName));
    m_ui->patientID->setText(textOf(ds, DCM_PatientID));
    setDateOf(m_ui->patientBirthDate, QtHelpers::convertDICOMDate(textOf(ds, DCM_PatientBirthDate).toStdString()));
    const QString sex = textOf(ds, DCM_PatientSex);
    m_ui->patientSex->setCurrentIndex(sex == QLatin1String("M")   ? 1
                                      : sex == QLatin1String("F") ? 2
                                      : sex.isEmpty()             ? 0
                                                                  : 3);
    m_ui->patientComment->setText(textOf(ds, DCM_PatientComments));
    m_ui->studyID->setText(textOf(ds, DCM_StudyID));
    setDateOf(m_ui->studyDate, QtHelpers::convertDICOMDate(textOf(ds, DCM_StudyDate).toStdString()));
    m_ui->studyDescription->setText(textOf(ds, DCM_StudyDescription));
    m_ui->seriesNumber->setText(textOf(ds, DCM_SeriesNumber));
    setDateOf(m_ui->seriesDate, QtHelpers::convertDICOMDate(textOf(ds, DCM_SeriesDate).toStdString()));
    m_ui->seriesTime->setTime(QtHelpers::convertDICOMTime(textOf(ds, DCM_SeriesTime).toStdString()));
    m_ui->seriesDescription->setText(textOf(ds, DCM_SeriesDescription));
}

void DicomIoControllerExportDialog::onInfoWidgetChanged()
{
    QObject* s = sender();
    if (!s || m_datasets.empty())
        return;
    DcmTagKey tag;
    QString value;
    const auto* ui = m_ui;
    if (s == ui->patientName) {
        tag = DCM_PatientName;
        value = ui->patientName->text();
    } else if (s == ui->patientID) {
        tag = DCM_PatientID;
        value = ui->patientID->text();
    } else if (s == ui->patientBirthDate) {
        tag = DCM_PatientBirthDate;
        value = dateText(ui->patientBirthDate);
    } else if (s == ui->patientSex) {
        tag = DCM_PatientSex;
        static const char* const codes[] = {"", "M", "F", "O"};
        const int index = ui->patientSex->currentIndex();
        value = index >= 0 && index < 4 ? QString::fromLatin1(codes[index]) : QString();
    } else if (s == ui->patientComment) {
        tag = DCM_PatientComments;
        value = ui->patientComment->text();
    } else if (s == ui->studyID) {
        tag = DCM_StudyID;
        value = ui->studyID->text();
    } else if (s == ui->studyDate) {
        tag = DCM_StudyDate;
        value = dateText(ui->studyDate);
    } else if (s == ui->studyDescription) {
        tag = DCM_StudyDescription;
        value = ui->studyDescription->text();
    } else if (s == ui->seriesNumber) {
        tag = DCM_SeriesNumber;
        value = ui->seriesNumber->text();
    } else if (s == ui->seriesDate) {
        tag = DCM_SeriesDate;
        value = dateText(ui->seriesDate);
    } else if (s == ui->seriesTime) {
        tag = DCM_SeriesTime;
        value = ui->seriesTime->time().toString(QStringLiteral("HHmmss"));
    } else if (s == ui->seriesDescription) {
        tag = DCM_SeriesDescription;
        value = ui->seriesDescription->text();
    } else {
        return;
    }
    for (const std::shared_ptr<DcmDataset>& dataset : m_datasets)
        if (dataset)
            setTextOf(*dataset, tag, value);
}

void DicomIoControllerExportDialog::mergeItem(DcmItem& source, DcmItem& target, bool overrideExisting)
{
    const std::set<Dicom::TagProxy>& readOnly = Dicom::Utils::readOnlyTags();
    for (unsigned long i = 0; i < source.card(); ++i) {
        DcmElement* element = source.getElement(i);
        if (!element)
            continue;
        const DcmTagKey key = element->getTag().getXTag();
        if (readOnly.count(Dicom::TagProxy(key.getGroup(), key.getElement())))
            continue;
        if (auto* sequence = dynamic_cast<DcmSequenceOfItems*>(element)) {
            for (unsigned long k = 0; k < sequence->card(); ++k) {
                DcmItem* targetItem = nullptr;
                if (target.findOrCreateSequenceItem(key, targetItem, static_cast<long>(k)).bad() || !targetItem) {
                    // Missing items are appended one by one so that they keep the source's order.
                    if (target.findOrCreateSequenceItem(key, targetItem, -2).bad() || !targetItem)
                        continue;
                }
                mergeItem(*sequence->getItem(k), *targetItem, overrideExisting);
            }
            continue;
        }
        auto* copy = static_cast<DcmElement*>(element->clone());
        if (target.insert(copy, overrideExisting).bad())
            delete copy;
    }
}

void DicomIoControllerExportDialog::loadTags()
{
    QSettings settings;
    const QString path = QFileDialog::getOpenFileName(this, tr("Select a DICOM file"),
                                                      settings.value(TagsFileKey, QString()).toString(), QString());
    if (path.isEmpty())
        return;
    settings.setValue(TagsFileKey, path);

    DcmFileFormat file;
    const OFCondition status = file.loadFile(path.toLocal8Bit().constData());
    if (status.bad()) {
        DRAVELIN_LOG(4, "DICOM", "Could not load DICOM file '" + path.toStdString() + "': " + status.text());
        QMessageBox::critical(this, tr("Could not load file"),
                              tr("The provided file could not be loaded as a DICOM file. Please make sure to select "
                                 "a valid DICOM file."),
                              QMessageBox::Ok);
        return;
    }
    const bool overrideExisting =
        QMessageBox::question(this, tr("Override tags?"),
                              tr("Do you want to override existing tags with tags from the file?"),
                              QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    DcmDataset* source = file.getDataset();
    source->convertToUTF8();
    for (const std::shared_ptr<DcmDataset>& dataset : m_datasets)
        if (dataset)
            mergeItem(*source, *dataset, overrideExisting);
    onInfoTabWidgetIndexChanged(m_ui->infoTabWidget->currentIndex());
}

}  // namespace Dravelin

#include "moc_DicomIoControllerExportDialog.cpp"
