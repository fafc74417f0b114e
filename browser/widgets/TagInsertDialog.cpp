#include "browser/widgets/TagInsertDialog.h"

#include "host/app/SilentSignals.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QSpinBox>

#include <dcmtk/dcmdata/dcdicent.h>
#include <dcmtk/dcmdata/dcdict.h>
#include <dcmtk/dcmdata/dcsequen.h>

#include <algorithm>
#include <optional>
#include <vector>

namespace Dravelin::Dicom {

namespace {

QString hex4(unsigned value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper();
}

std::optional<unsigned short> parseHex4(const QString& text)
{
    bool ok = false;
    const unsigned value = text.toUInt(&ok, 16);
    if (!ok || text.size() != 4)
        return std::nullopt;
    return static_cast<unsigned short>(value);
}

}  // namespace

TagInsertDialog::TagInsertDialog(DcmSequenceOfItems* sequence, int currentItem, QWidget* parent) : QDialog(parent)
{
    qRegisterMetaType<DcmTagKey>("DcmTagKey");
    setModal(true);
    setWindowTitle(tr("Insert element"));

    auto* form = new QFormLayout(this);
    const QRegularExpression hexPattern(QStringLiteral("[0-9A-Fa-f]{4}"));

    auto* tagRow = new QHBoxLayout();
    m_groupEdit = new QLineEdit(this);
    m_groupEdit->setObjectName("groupEdit");
    m_groupEdit->setValidator(new QRegularExpressionValidator(hexPattern, m_groupEdit));
    m_elementEdit = new QLineEdit(this);
    m_elementEdit->setObjectName("elementEdit");
    m_elementEdit->setValidator(new QRegularExpressionValidator(hexPattern, m_elementEdit));
    tagRow->addWidget(new QLabel("(", this));
    tagRow->addWidget(m_groupEdit);
    tagRow->addWidget(new QLabel(",", this));
    tagRow->addWidget(m_elementEdit);
    tagRow->addWidget(new QLabel(")", this));
    form->addRow(tr("Tag"), tagRow);

    m_nameComboBox = new QComboBox(this);
    m_nameComboBox->setObjectName("tagNameComboBox");
    fillDictionaryNames();
    form->addRow(tr("Tag name"), m_nameComboBox);

    m_valueEdit = new QLineEdit(this);
    m_valueEdit->setObjectName("valueEdit");
    m_valueEdit->setMaxLength(1000000);
    form->addRow(tr("Value"), m_valueEdit);

    m_sequenceIndexSpinBox = new QSpinBox(this);
    m_sequenceIndexSpinBox->setObjectName("sequenceIndexSpinBox");
    m_sequenceIndexSpinBox->setMinimum(-1);
    m_sequenceIndexSpinBox->setSpecialValueText(tr("New Item"));
    if (sequence) {
        m_sequenceIndexSpinBox->setMaximum(static_cast<int>(sequence->card()));
        m_sequenceIndexSpinBox->setValue(currentItem);
        form->addRow(tr("Sequence Index"), m_sequenceIndexSpinBox);
    } else {
        m_sequenceIndexSpinBox->setVisible(false);
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal, this);
    buttons->setObjectName("buttonBox");
    form->addRow(QString(), buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_nameComboBox, qOverload<int>(&QComboBox::currentIndexChanged), this, &TagInsertDialog::onNameChosen);
    connect(m_groupEdit, &QLineEdit::textEdited, this, &TagInsertDialog::onKeyEdited);
    connect(m_elementEdit, &QLineEdit::textEdited, this, &TagInsertDialog::onKeyEdited);
    onNameChosen(m_nameComboBox->currentIndex());
}

void TagInsertDialog::fillDictionaryNames()
{
    std::vector<std::pair<DcmTagKey, QString>> entries;
    // DCMTK offers its iterators on the non-const dictionary only; iterating does not modify it.
    auto& dictionary = const_cast<DcmDataDictionary&>(dcmDataDict.rdlock());
    for (auto it = dictionary.normalBegin(); it != dictionary.normalEnd(); ++it) {
        const DcmDictEntry* entry = *it;
        if (entry && entry->getTagName())
            entries.emplace_back(entry->getKey(), QString::fromLatin1(entry->getTagName()));
    }
    dcmDataDict.rdunlock();

    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [key, name] : entries) {
        if (m_rowOfKey.count(key))
            continue;
        m_rowOfKey[key] = m_nameComboBox->count();
        m_nameComboBox->addItem(name, QVariant::fromValue(key));
    }
    m_nameComboBox->addItem(tr("Unknown"));
}

void TagInsertDialog::onNameChosen(int index)
{
    const QVariant data = m_nameComboBox->itemData(index);
    if (!data.canConvert<DcmTagKey>())
        return;
    const DcmTagKey key = data.value<DcmTagKey>();
    m_groupEdit->setText(hex4(key.getGroup()));
    m_elementEdit->setText(hex4(key.getElement()));
}

void TagInsertDialog::onKeyEdited()
{
    const auto group = parseHex4(m_groupEdit->text());
    const auto element = parseHex4(m_elementEdit->text());
    int row = m_nameComboBox->count() - 1;
    if (group && element) {
        const auto found = m_rowOfKey.find(DcmTagKey(*group, *element));
        if (found != m_rowOfKey.end())
            row = found->second;
    }
    QtHelpers::setSilent(m_nameComboBox, [this, row] { m_nameComboBox->setCurrentIndex(row); });
}

bool TagInsertDialog::hasValidKey() const
{
    return parseHex4(m_groupEdit->text()) && parseHex4(m_elementEdit->text());
}

DcmTagKey TagInsertDialog::key() const
{
    return DcmTagKey(parseHex4(m_groupEdit->text()).value_or(0), parseHex4(m_elementEdit->text()).value_or(0));
}

QString TagInsertDialog::value() const
{
    return m_valueEdit->text();
}

int TagInsertDialog::sequenceIndex() const
{
    return m_sequenceIndexSpinBox->value();
}

}  // namespace Dravelin::Dicom

#include "moc_TagInsertDialog.cpp"
