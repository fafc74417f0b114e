#include "editor/OverrideConfidentialityDialog.h"

#include "editor/ConfidentialityProfile.h"
#include "editor/TagParameterName.h"
#include "host/app/FileDialogs.h"
#include "host/core/Log.h"
#include "host/ui/WidgetHelpers.h"
#include "ui_OverrideConfidentialityDialog.h"

#include <QComboBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QIcon>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QTableWidget>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctag.h>

namespace Dravelin {

namespace {

constexpr int kGroupRole = 256;
constexpr int kElementRole = 257;

// The dictionary name of a table row. The keys that stand for whole ranges of tags have no
// dictionary entry of their own.
QString tagName(Dicom::TagProxy tag)
{
    namespace Keys = Dicom::DeidentificationKeys;
    if (tag == Keys::privateAttributes)
        return QStringLiteral("Private Attributes");
    if (tag == Keys::curveData)
        return QStringLiteral("Curve Data");
    return QString::fromLatin1(DcmTag(tag.group, tag.element).getTagName());
}

}  // namespace

const QStringList& OverrideConfidentialityDialog::actionCodes()
{
    static const QStringList codes{"D", "Z", "X", "K", "C", "U", "Z/D", "X/Z", "X/D", "X/Z/D", "X/Z/U*"};
    return codes;
}

const QString& OverrideConfidentialityDialog::actionExplanation()
{
    static const QString text =
        QStringList{
            "D\treplace with a non-zero length value that may be a dummy value and consistent with the VR",
            "Z\treplace with a zero length value, or a non-zero length value that may be a dummy value and "
            "consistent with the VR",
            "X\tremove",
            "K\tkeep (unchanged for non-Sequence Attributes, cleaned for Sequences)",
            "C\tclean, that is replace with values of similar meaning known not to contain identifying information "
            "and consistent with the VR",
            "U\treplace with a non-zero length UID that is internally consistent within a set of Instances",
            "Z/D\tZ unless D is required to maintain IOD conformance (Type 2 versus Type 1)",
            "X/Z\tX unless Z is required to maintain IOD conformance (Type 3 versus Type 2)",
            "X/D\tX unless D is required to maintain IOD conformance (Type 3 versus Type 1)",
            "X/Z/D\tX unless Z or D is required to maintain IOD conformance (Type 3 versus Type 2 versus Type 1)",
            "X/Z/U*\tX unless Z or replacement of contained instance UIDs (U) is required to maintain IOD "
            "conformance (Type 3 versus Type 2 versus Type 1 sequences containing UID references)"}
            .join('\n');
    return text;
}

OverrideConfidentialityDialog::OverrideConfidentialityDialog(const QString& name, const QString& path, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui_OverrideConfidentialityDialog>())
{
    m_ui->setupUi(this);
    m_tagTable = m_ui->tagTable;
    m_profiles = m_ui->profileComboBox;
    const QPixmap logo(QStringLiteral(":/Logo.ico"));
    if (!logo.isNull())
        setWindowIcon(QIcon(logo));

    m_profiles->addItem(ConfidentialityProfile::basicProfileName);
    m_profiles->setItemData(0, "DICOM Basic Application Level Confidentiality Profile (PS3.15, Table E.1-1)",
                            Qt::ToolTipRole);
    m_profiles->addItem(ConfidentialityProfile::relaxedProfileName);
    m_profiles->setItemData(
        1, "A pre-configured custom profile that keeps study/series description, acquisition date and all UIDs",
        Qt::ToolTipRole);
    m_profiles->setCurrentIndex(0);

    m_ui->clearFilterButton->setIcon(QtHelpers::generateMultiSizeIcon("ButtonClear.png"));
    m_ui->filterLineEdit->setPlaceholderText(QStringLiteral("Tag name"));
    m_tagTable->setHorizontalHeaderLabels({"Tag Name", "De-identification Action Code"});
    m_tagTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);

    connect(m_profiles, &QComboBox::currentTextChanged, this, &OverrideConfidentialityDialog::onProfileSelected);
    connect(m_ui->filterLineEdit, &QLineEdit::textChanged, this, &OverrideConfidentialityDialog::applyFilter);
    connect(m_ui->clearFilterButton, &QPushButton::clicked, m_ui->filterLineEdit, &QLineEdit::clear);
    connect(m_ui->exportButton, &QPushButton::clicked, this, &OverrideConfidentialityDialog::exportSettings);
    connect(m_ui->importButton, &QPushButton::clicked, this, &OverrideConfidentialityDialog::importSettings);
    connect(m_ui->resetButton, &QPushButton::clicked, this, &OverrideConfidentialityDialog::applySettingsToTable);
    connect(m_ui->acceptButton, &QPushButton::clicked, this, &OverrideConfidentialityDialog::acceptProfile);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    loadSettings(name, path);
}

OverrideConfidentialityDialog::~OverrideConfidentialityDialog() = default;

bool OverrideConfidentialityDialog::loadSettings(const QString& name, QString path)
{
    if (name == ConfidentialityProfile::basicProfileName || name == ConfidentialityProfile::relaxedProfileName) {
        m_actions = ConfidentialityProfile::load(name, QString())->table;
        m_name = name;
        m_path.clear();
        m_fileName.clear();
        return true;
    }
    if (path.isEmpty()) {
        if (auto table = ConfidentialityProfile::storedCustomTable()) {
            m_actions = std::move(*table);
            m_name = name.isEmpty() ? ConfidentialityProfile::customProfileName : name;
            m_path.clear();
            m_fileName.clear();
            return true;
        }
    }
    if (!QFileInfo(path).isFile()) {
        DRAVELIN_LOG(4, "", "Invalid profile selection: " + name + " (" + path + ")");
        return loadSettings(ConfidentialityProfile::basicProfileName, QString());
    }
    auto file = ConfidentialityProfile::readFile(path);  // logs "Could not load "
    if (!file)
        return false;
    m_actions = std::move(file->table);
    m_name = file->name;
    m_fileName = file->name;
    m_path = path;
    addProfileItem();
    return true;
}

void OverrideConfidentialityDialog::addProfileItem()
{
    const QString text = m_name.isEmpty() ? m_path : m_name;
    // Choosing the same file again reuses its entry.
    for (int i = 2; i < m_profiles->count(); ++i)
        if (m_profiles->itemText(i) == text && m_profiles->itemData(i, Qt::ToolTipRole).toString() == m_path)
            return;
    const QSignalBlocker block(m_profiles);
    m_profiles->addItem(text);
    m_profiles->setItemData(m_profiles->count() - 1, m_path, Qt::ToolTipRole);
}

void OverrideConfidentialityDialog::applySettingsToTable()
{
    m_tagTable->clear();
    m_tagTable->setColumnCount(2);
    m_tagTable->setHorizontalHeaderLabels({"Tag Name", "De-identification Action Code"});
    m_tagTable->setRowCount(static_cast<int>(m_actions.size()));
    const auto& basic = Dicom::tagDeidentificationActionBasicProfile();
    int row = 0;
    for (const auto& [tag, action] : m_actions) {
        auto* label = new QLabel(tagName(tag));
        label->setContentsMargins(4, 0, 4, 0);
        label->setToolTip(label->text());  // for names longer than the column
        m_tagTable->setCellWidget(row, 0, label);
        auto* header = new QTableWidgetItem(QString::fromStdString(tag.toString()));
        header->setData(kGroupRole, tag.group);
        header->setData(kElementRole, tag.element);
        m_tagTable->setVerticalHeaderItem(row, header);
        auto* box = new QComboBox;
        box->addItems(actionCodes());
        box->setCurrentIndex(actionCodes().indexOf(QString::fromStdString(action)));
        QString tip = actionExplanation();
        const auto it = basic.find(tag);
        if (it != basic.end())
            tip += QStringLiteral("\n\nDefault for this tag: %1").arg(QString::fromStdString(it->second));
        box->setToolTip(tip);
        m_tagTable->setCellWidget(row, 1, box);
        ++row;
    }
    applyFilter(m_ui->filterLineEdit->text());
    {
        const QSignalBlocker block(m_profiles);
        m_profiles->setCurrentText(m_name);
    }
    m_profiles->setCurrentText(m_name.isEmpty() ? m_path : m_name);
}

QString OverrideConfidentialityDialog::methodName() const
{
    const bool renamed = m_name == ConfidentialityProfile::customProfileName && !m_path.isEmpty();
    return ConfidentialityProfile::methodName(renamed ? m_fileName : m_name, m_path);
}

void OverrideConfidentialityDialog::onProfileSelected(const QString& text)
{
    if (loadSettings(text, m_profiles->currentData(Qt::ToolTipRole).toString()))
        applySettingsToTable();
}

void OverrideConfidentialityDialog::applyFilter(const QString& text)
{
    for (int row = 0; row < m_tagTable->rowCount(); ++row) {
        const auto* label = qobject_cast<QLabel*>(m_tagTable->cellWidget(row, 0));
        m_tagTable->setRowHidden(row, label && !label->text().contains(text, Qt::CaseInsensitive));
    }
}

namespace {

// The table as the rows show it, edits included.
Dicom::DeidentificationActionTable tableOf(const QTableWidget& table)
{
    Dicom::DeidentificationActionTable actions;
    for (int row = 0; row < table.rowCount(); ++row) {
        const QTableWidgetItem* header = table.verticalHeaderItem(row);
        const auto* box = qobject_cast<QComboBox*>(table.cellWidget(row, 1));
        if (!header || !box)
            continue;
        const Dicom::TagProxy tag(static_cast<std::uint16_t>(header->data(kGroupRole).toUInt()),
                                  static_cast<std::uint16_t>(header->data(kElementRole).toUInt()));
        actions[tag] = box->currentText().toStdString();
    }
    return actions;
}

}  // namespace

void OverrideConfidentialityDialog::exportSettings()
{
    const QString file =
        QtHelpers::getSaveFilename(this, QStringLiteral("dicom/confidentialitySettings"),
                                   tr("Save Custom Confidentiality Profile"), tr("XML Property File (*.xml)"));
    if (file.isEmpty())
        return;
    const QString name =
        QInputDialog::getText(this, tr("Input Profile Name"), tr("Please enter a profile name (or cancel for none)."));
    const auto shown = tableOf(*m_tagTable);
    if (!ConfidentialityProfile::writeFile(file, name, shown)) {
        DRAVELIN_LOG(4, "", "Could not save " + file);
        QMessageBox::critical(this, tr("Export failed"), tr("Could not save the profile to %1.").arg(file));
        return;
    }
    // The file now holds the table as shown: it is the loaded profile (Reset returns to it).
    m_actions = shown;
    m_name = name;
    m_fileName = name;
    m_path = file;
    addProfileItem();
    const QSignalBlocker block(m_profiles);
    m_profiles->setCurrentText(m_name.isEmpty() ? m_path : m_name);
}

void OverrideConfidentialityDialog::importSettings()
{
    const QString file =
        QtHelpers::getOpenFilename(this, QStringLiteral("dicom/confidentialitySettings"),
                                   tr("Load Custom Confidentiality Profile"), tr("XML Property File (*.xml)"));
    if (!file.isEmpty() && QFileInfo::exists(file) && loadSettings(QString(), file))
        applySettingsToTable();
}

void OverrideConfidentialityDialog::acceptProfile()
{
    if (m_tagTable->rowCount() == 0)  // never shown: the table is the current one
        applySettingsToTable();
    m_actions = tableOf(*m_tagTable);
    m_name = ConfidentialityProfile::customProfileName;
    signalProfileChanged.notify();
    accept();
}

void OverrideConfidentialityDialog::reject()
{
    // Whatever was chosen or edited since the dialog opened is dropped.
    if (!isVisible()) {
        QDialog::reject();
        return;
    }
    const bool changed = m_actions != m_shown.actions || m_name != m_shown.name || m_path != m_shown.path;
    m_actions = m_shown.actions;
    m_name = m_shown.name;
    m_path = m_shown.path;
    m_fileName = m_shown.fileName;
    if (changed || tableOf(*m_tagTable) != m_actions)
        applySettingsToTable();
    QDialog::reject();
}

void OverrideConfidentialityDialog::showEvent(QShowEvent* event)
{
    if (m_tagTable->rowCount() == 0)
        applySettingsToTable();
    m_shown = {m_name, m_path, m_actions, m_fileName};
    QDialog::showEvent(event);
}

}  // namespace Dravelin

#include "moc_OverrideConfidentialityDialog.cpp"
