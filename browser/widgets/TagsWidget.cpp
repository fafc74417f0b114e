#include "browser/widgets/TagsWidget.h"

#include "browser/widgets/TagInsertDialog.h"
#include "host/app/FileDialogs.h"
#include "host/core/AtomicFile.h"
#include "host/core/Log.h"
#include "host/dicom/Utils.h"
#include "ui_TagsWidget.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QToolButton>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/dcmdata/dcstack.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcvr.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <fmt/format.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>
#include <unistd.h>

namespace Dravelin::Dicom {

namespace {

constexpr Uint32 kLargeValueBytes = 1000;
constexpr Uint32 kRawBufferMinimumBytes = 100;
constexpr int kMaximumNameWidth = 420;
const QColor kReadOnlyColor(70, 70, 70);
const QString kIndent(8, QLatin1Char(' '));

enum Column { ToggleColumn = 0, TagColumn = 1, NameColumn = 2, ValueColumn = 3 };

void logError(const std::string& message)
{
    Log::log(4, "DICOM", message);
}

QStandardItem* textItem(const QString& text, DcmElement* element)
{
    auto* item = new QStandardItem(text);
    item->setToolTip(text);
    item->setData(QVariant::fromValue(element), TagsWidget::ElementRole);
    item->setEditable(false);
    return item;
}

// The value column's text; `isOwnValue` tells whether it is the element's value itself (and
// so may be edited) rather than a summary.
QString valueText(DcmElement* element, bool& isOwnValue)
{
    isOwnValue = false;
    if (element->getLength() >= kLargeValueBytes) {
        if (element->getVR() == EVR_SQ) {
            if (auto* sequence = dynamic_cast<DcmSequenceOfItems*>(element))
                return QString("[Sequence (%1 Items)]").arg(sequence->card());
            return "[Sequence]";
        }
        return QString::fromStdString(fmt::format("[Large value ({} Bytes)]", element->getLength()));
    }
    OFString value;
    element->getOFStringArray(value, OFTrue);
    QString text = QString::fromUtf8(value.c_str());
    if (element->getTag() == DCM_SOPClassUID) {
        if (const char* name = dcmFindNameOfUID(value.c_str(), nullptr))
            return QString("%1 (%2)").arg(QString::fromLatin1(name), text);
    }
    isOwnValue = element->getVR() != EVR_SQ;
    return text;
}

// The element's values through the DCMTK getter of their type; null when it has none.
template <typename T>
const void* typedValues(DcmElement* element, OFCondition (DcmElement::*getter)(T*&))
{
    T* values = nullptr;
    return (element->*getter)(values).good() ? values : nullptr;
}

bool writeWhole(const QString& path, const QByteArray& bytes)
{
    QString error;
    if (AtomicFile::writeWhole(path, bytes, &error))
        return true;
    logError(error.toStdString());
    return false;
}

// Each value on one line, elided at the cell's end: wrapping long UIDs or multi-line texts
// into a row of one line's height left only their first characters readable. The tooltip
// holds the whole value.
class SingleLineDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QString displayText(const QVariant& value, const QLocale& locale) const override
    {
        // The base class has already turned line feeds into line separators.
        QString text = QStyledItemDelegate::displayText(value, locale);
        for (const QChar lineBreak :
             {QChar(QChar::LineSeparator), QChar(QChar::ParagraphSeparator), QChar('\r'), QChar('\n')})
            text.replace(lineBreak, QLatin1Char(' '));
        return text;
    }
};

}  // namespace

TagsWidget::TagsWidget(QWidget* parent) : TagsWidget(nullptr, parent) {}

TagsWidget::TagsWidget(std::shared_ptr<DcmDataset> dataset, QWidget* parent)
    : QWidget(parent), m_ui(std::make_unique<Ui_TagsWidget>())
{
    qRegisterMetaType<DcmElement*>("DcmElement*");
    qRegisterMetaType<DcmTagKey>("DcmTagKey");
    m_model = new QStandardItemModel(this);
    m_ui->setupUi(this);
    connect(m_model, &QStandardItemModel::itemChanged, this, &TagsWidget::onItemChanged);
    connect(m_ui->filterTagsEdit, &QLineEdit::textChanged, this, &TagsWidget::refreshTextFilter);
    m_ui->tagsView->setModel(m_model);
    m_ui->tagsView->setWordWrap(false);
    m_ui->tagsView->setTextElideMode(Qt::ElideRight);
    m_ui->tagsView->setItemDelegate(new SingleLineDelegate(m_ui->tagsView));
    m_ui->tagsView->setContextMenuPolicy(Qt::CustomContextMenu);
    // One line per element: wrapping long UIDs at their dots would show only the first piece.
    m_ui->tagsView->setWordWrap(false);
    connect(m_ui->tagsView, &QWidget::customContextMenuRequested, this, &TagsWidget::onTagsContextMenu);
    connect(m_ui->frameSpinBox, qOverload<int>(&QSpinBox::valueChanged), this, &TagsWidget::setCurrentFrame);
    setDataset(std::move(dataset));
}

TagsWidget::~TagsWidget() = default;

int TagsWidget::currentFrame() const
{
    for (size_t i = 0; i < m_datasets.size(); ++i)
        if (m_datasets[i] == m_dataset)
            return static_cast<int>(i);
    return 0;
}

void TagsWidget::setDataset(std::shared_ptr<DcmDataset> dataset)
{
    setDatasets({std::move(dataset)});
}

void TagsWidget::setDatasets(const std::vector<std::shared_ptr<DcmDataset>>& datasets)
{
    m_datasets = datasets;
    const bool several = m_datasets.size() > 1;
    m_ui->frameLabel->setVisible(several);
    m_ui->frameSpinBox->setVisible(several);
    {
        const QSignalBlocker blocker(m_ui->frameSpinBox);
        m_ui->frameSpinBox->setRange(0, std::max(0, static_cast<int>(m_datasets.size()) - 1));
    }
    setCurrentFrame(0);
}

void TagsWidget::setCurrentFrame(int frame)
{
    if (m_datasets.empty())
        return;
    frame = std::max(0, std::min(frame, static_cast<int>(m_datasets.size()) - 1));
    m_dataset = m_datasets[frame];
    {
        const QSignalBlocker blocker(m_ui->frameSpinBox);
        m_ui->frameSpinBox->setValue(frame);
    }
    reloadTags();
}

void TagsWidget::setEditable(bool editable)
{
    if (editable == m_editable)
        return;
    m_ui->tagsView->setEditTriggers(editable ? QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                                             : QAbstractItemView::NoEditTriggers);
    m_editable = editable;
    setCurrentFrame(currentFrame());
    emit editableChanged(editable);
}

void TagsWidget::reloadTags()
{
    QTableView* view = m_ui->tagsView;
    std::map<int, int> widths;
    if (m_model->rowCount() > 0) {
        m_scrollPosition = view->verticalScrollBar()->value();
        for (int c = 0; c < m_model->columnCount(); ++c)
            widths[c] = view->columnWidth(c);
    }

    m_model->clear();
    m_visibility.clear();
    m_model->setColumnCount(4);
    m_model->setHorizontalHeaderLabels({QString(), tr("Tag"), tr("Name"), tr("Value")});
    if (!m_dataset)
        return;

    const DcmXfer xfer(m_dataset->getOriginalXfer());
    const QString xferText =
        QString("%1 (%2)").arg(QString::fromLatin1(xfer.getXferName()), QString::fromLatin1(xfer.getXferID()));
    m_model->appendRow({textItem(QString(), nullptr), textItem("(0002,0010)", nullptr),
                        textItem("Transfer Syntax UID", nullptr), textItem(xferText, nullptr)});
    m_visibility.emplace_back();

    std::map<const DcmObject*, int> sequenceRows;
    DcmStack stack;
    while (m_dataset->nextObject(stack, OFTrue).good()) {
        auto* element = dynamic_cast<DcmElement*>(stack.top());
        if (!element)
            continue;  // sequence items are containers, not rows
        const int level = static_cast<int>((stack.card() - 1) / 2);
        int parentRow = -1;
        if (level > 0 && stack.card() >= 3) {
            const auto found = sequenceRows.find(stack.elem(2));
            if (found != sequenceRows.end())
                parentRow = found->second;
        }
        if (element->getVR() == EVR_SQ)
            sequenceRows[element] = m_model->rowCount();
        appendElementRow(element, level, parentRow);
    }
    for (const auto& entry : sequenceRows)
        addCollapseButton(entry.second);

    view->resizeColumnToContents(ToggleColumn);
    view->resizeColumnToContents(TagColumn);
    // Indented names are long; without this they are cut off at the default width.
    view->resizeColumnToContents(NameColumn);
    view->setColumnWidth(NameColumn, std::min(view->columnWidth(NameColumn), kMaximumNameWidth));
    view->horizontalHeader()->setStretchLastSection(true);
    for (const auto& [column, width] : widths)
        if (column != ValueColumn)
            view->setColumnWidth(column, width);
    view->doItemsLayout();
    if (m_scrollPosition >= 0)
        view->verticalScrollBar()->setValue(m_scrollPosition);
    refreshTextFilter(m_ui->filterTagsEdit->text());
}

void TagsWidget::appendElementRow(DcmElement* element, int level, int parentRow)
{
    DcmTag tag = element->getTag();
    const DcmTagKey key = tag.getXTag();
    const QString tagText =
        QString("%1 %2").arg(QString::fromLatin1(key.toString().c_str()), QString::fromLatin1(tag.getVRName()));
    QString name;
    for (int i = 0; i < level; ++i)
        name += kIndent;
    name += QString::fromLatin1(tag.getTagName());
    bool isOwnValue = false;
    const QString value = valueText(element, isOwnValue);

    QList<QStandardItem*> row{textItem(QString(), element), textItem(tagText, element), textItem(name, element),
                              textItem(value, element)};
    const bool readOnly = Utils::readOnlyTags().count(TagProxy(key)) > 0;
    if (readOnly)
        for (int c = TagColumn; c <= ValueColumn; ++c)
            row[c]->setForeground(kReadOnlyColor);
    row[ValueColumn]->setEditable(m_editable && !readOnly && isOwnValue);
    m_model->appendRow(row);

    ElementVisibility visibility;
    if (parentRow >= 0) {
        visibility.hasParent = true;
        visibility.parentRow = static_cast<unsigned>(parentRow);
    }
    m_visibility.push_back(visibility);
}

void TagsWidget::addCollapseButton(int row)
{
    auto* button = new QToolButton();
    button->setCheckable(true);
    button->setChecked(true);
    button->setAutoRaise(true);
    button->setIcon(QIcon(":/PlusIcon.png"));
    m_visibility[row].hasNoToggle = false;
    connect(button, &QToolButton::toggled, this, [this, row](bool checked) {
        if (row < static_cast<int>(m_visibility.size())) {
            m_visibility[row].collapsed = !checked;
            refreshVisibility(false);
        }
    });
    m_ui->tagsView->setIndexWidget(m_model->index(row, ToggleColumn), button);
}

void TagsWidget::refreshVisibility(bool scrollToCurrent)
{
    QTableView* view = m_ui->tagsView;
    for (size_t row = 0; row < m_visibility.size(); ++row) {
        const ElementVisibility& v = m_visibility[row];
        bool hidden = !v.matchesFilter && !v.hasMatchingDescendant;
        for (const ElementVisibility* a = &v; !hidden && a->hasParent; a = &m_visibility[a->parentRow])
            hidden = m_visibility[a->parentRow].collapsed;
        view->setRowHidden(static_cast<int>(row), hidden);
    }
    const QModelIndex current = view->currentIndex();
    if (scrollToCurrent && current.isValid() && !view->isRowHidden(current.row()))
        view->scrollTo(current);
}

void TagsWidget::refreshTextFilter(const QString& text)
{
    for (size_t row = 0; row < m_visibility.size(); ++row) {
        ElementVisibility& v = m_visibility[row];
        v.hasMatchingDescendant = false;
        v.matchesFilter = text.isEmpty();
        for (int c = TagColumn; c <= ValueColumn && !v.matchesFilter; ++c)
            v.matchesFilter =
                m_model->index(static_cast<int>(row), c).data().toString().contains(text, Qt::CaseInsensitive);
    }
    if (!text.isEmpty()) {
        for (const ElementVisibility& v : m_visibility) {
            if (!v.matchesFilter)
                continue;
            for (const ElementVisibility* a = &v; a->hasParent; a = &m_visibility[a->parentRow])
                m_visibility[a->parentRow].hasMatchingDescendant = true;
        }
    }
    refreshVisibility(true);
}

void TagsWidget::setAllCollapsed(bool collapsed)
{
    for (size_t row = 0; row < m_visibility.size(); ++row) {
        if (m_visibility[row].hasNoToggle)
            continue;
        m_visibility[row].collapsed = collapsed;
        if (auto* button = qobject_cast<QToolButton*>(
                m_ui->tagsView->indexWidget(m_model->index(static_cast<int>(row), ToggleColumn)))) {
            const QSignalBlocker blocker(button);
            button->setChecked(!collapsed);
        }
    }
    refreshVisibility(false);
}

DcmElement* TagsWidget::elementAt(const QModelIndex& index) const
{
    return index.isValid() ? index.data(ElementRole).value<DcmElement*>() : nullptr;
}

void TagsWidget::onItemChanged(QStandardItem* item)
{
    DcmElement* element = item ? item->data(ElementRole).value<DcmElement*>() : nullptr;
    if (!element || item->column() != ValueColumn)
        return;
    const QByteArray text = item->text().toUtf8();
    const OFCondition status = element->putString(text.constData(), static_cast<Uint32>(text.size()));
    if (status.bad()) {
        logError(std::string("Could not change value: ") + status.text());
        return;
    }
    const QSignalBlocker blocker(m_model);
    item->setToolTip(item->text());
}

void TagsWidget::onTagsContextMenu(const QPoint& pos)
{
    const QPersistentModelIndex index = m_ui->tagsView->indexAt(pos);
    DcmElement* element = elementAt(index);

    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(tr("Expand all"), this, [this] { setAllCollapsed(false); });
    menu->addAction(tr("Collapse all"), this, [this] { setAllCollapsed(true); });
    if (index.isValid())
        menu->addAction(tr("Copy"), this, [index] {
            if (index.isValid())
                QApplication::clipboard()->setText(index.data().toString());
        });
    // The row may have been reloaded (and its element removed) by the time an entry is chosen.
    const auto withElement = [this, index](void (TagsWidget::*action)(DcmElement*)) {
        return [this, index, action] {
            if (DcmElement* e = elementAt(index))
                (this->*action)(e);
        };
    };
    if (element && element->getLength() > kRawBufferMinimumBytes) {
        menu->addAction(tr("Open RAW buffer"), this, withElement(&TagsWidget::openRawBuffer));
        menu->addAction(tr("Save to file..."), this, withElement(&TagsWidget::saveRawBuffer));
    }
    if (m_editable) {
        menu->addAction(tr("Insert element"), this, [this, index] { insertElement(index); });
        menu->addAction(tr("Remove element"), this, [this, index] { removeElement(index); });
    }
    menu->addSeparator();
    menu->addAction(tr("Export All..."), this, &TagsWidget::exportAll);
    menu->popup(m_ui->tagsView->viewport()->mapToGlobal(pos));
}

std::optional<QByteArray> TagsWidget::getRawBuffer(DcmElement* element)
{
    if (!element)
        return std::nullopt;
    const void* data = nullptr;
    switch (element->getVR()) {
        case EVR_OB:
        case EVR_UN: data = typedValues(element, &DcmElement::getUint8Array); break;
        case EVR_OW:
        case EVR_US: data = typedValues(element, &DcmElement::getUint16Array); break;
        case EVR_SS: data = typedValues(element, &DcmElement::getSint16Array); break;
        case EVR_UL:
        case EVR_OL: data = typedValues(element, &DcmElement::getUint32Array); break;
        case EVR_SL: data = typedValues(element, &DcmElement::getSint32Array); break;
        case EVR_FL:
        case EVR_OF: data = typedValues(element, &DcmElement::getFloat32Array); break;
        case EVR_FD:
        case EVR_OD: data = typedValues(element, &DcmElement::getFloat64Array); break;
        default: break;
    }
    if (!data)
        return std::nullopt;
    return QByteArray(static_cast<const char*>(data), static_cast<int>(element->getLength()));
}

void TagsWidget::openRawBuffer(DcmElement* element)
{
    const std::optional<QByteArray> buffer = getRawBuffer(element);
    if (!buffer) {
        logError(std::string("Failed to retrieve buffer (VR: ") + DcmVR(element->getVR()).getVRName() + ")");
        return;
    }
    char path[] = "/tmp/dicomXXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        logError("mkstemp failed");
        return;
    }
    QFile file;
    if (!file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        logError("Could not open a temporary file to store the buffer");
        return;
    }
    if (file.write(*buffer) != buffer->size() || !file.flush()) {
        logError("Could not write buffer to temporary file");
        return;
    }
    file.close();
    emit savedRawBuffer(QString::fromLocal8Bit(path));
}

void TagsWidget::saveRawBuffer(DcmElement* element)
{
    const std::optional<QByteArray> buffer = getRawBuffer(element);
    if (!buffer) {
        logError(std::string("Failed to retrieve buffer (VR: ") + DcmVR(element->getVR()).getVRName() + ")");
        return;
    }
    const QMimeDatabase mimeDatabase;
    QMimeType mime;
    OFString mimeName;
    if (m_dataset && m_dataset->findAndGetOFString(DCM_MIMETypeOfEncapsulatedDocument, mimeName).good())
        mime = mimeDatabase.mimeTypeForName(QString::fromLatin1(mimeName.c_str()).trimmed());
    if (!mime.isValid())
        mime = mimeDatabase.mimeTypeForData(*buffer);
    if (!mime.isValid()) {
        logError("Unsupported mime type");
        return;
    }
    const QString path = QFileDialog::getSaveFileName(this, tr("Save File"), QString(), mime.filterString());
    if (!path.isEmpty())
        writeWhole(path, *buffer);
}

bool TagsWidget::exportTags(const QString& path) const
{
    if (!m_dataset || path.isEmpty())
        return false;
    std::ostringstream out;
    OFCondition status = EC_Normal;
    if (path.endsWith(".xml", Qt::CaseInsensitive)) {
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
        status = m_dataset->writeXML(out, DCMTypes::XF_writeBinaryData | DCMTypes::XF_encodeBase64);
    } else {
        m_dataset->print(out);
    }
    if (status.bad()) {
        logError(std::string("Could not export the DICOM tags: ") + status.text());
        return false;
    }
    const std::string text = out.str();
    return writeWhole(path, QByteArray(text.data(), static_cast<int>(text.size())));
}

void TagsWidget::exportAll()
{
    const QString path = QtHelpers::getSaveFilename(this, "lastDir/exportDicomTags", tr("Export DICOM Tags"),
                                                    "Text file (*.txt);;XML file (*.xml)");
    if (!path.isEmpty())
        exportTags(path);
}

void TagsWidget::insertElement(const QModelIndex& index)
{
    if (!m_dataset)
        return;
    auto* sequence = dynamic_cast<DcmSequenceOfItems*>(elementAt(index));
    TagInsertDialog dialog(sequence, sequence && sequence->card() > 0 ? 0 : -1, this);
    if (dialog.exec() != QDialog::Accepted || !dialog.hasValidKey())
        return;

    const DcmTagKey key = dialog.key();
    DcmItem* target = m_dataset.get();
    OFCondition status = EC_Normal;
    if (sequence) {
        DcmItem* owner = sequence->getParentItem();
        const long item = dialog.sequenceIndex() < 0 ? -2 : dialog.sequenceIndex();  // -2: append a new item
        target = nullptr;
        status = owner ? owner->findOrCreateSequenceItem(sequence->getTag(), target, item) : EC_IllegalCall;
    }
    if (status.good() && target) {
        if (target->tagExists(key) &&
            QMessageBox::question(this, tr("Override existing tag?"),
                                  tr("The dataset already contains this key. Should the existing value be overridden?"),
                                  QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
            return;
        const QByteArray value = dialog.value().toUtf8();
        status = target->putAndInsertString(DcmTag(key), value.constData(), OFTrue);
    }
    if (status.bad() || !target) {
        logError(std::string("Failed to insert item: ") + status.text());
        QMessageBox::critical(this, tr("Could not insert tag"),
                              tr("The tag could not be inserted:\n'%1'").arg(QString::fromLatin1(status.text())));
        return;
    }
    reloadTags();
}

void TagsWidget::removeElement(const QModelIndex& index)
{
    DcmElement* element = elementAt(index);
    if (!element) {
        logError("Could not find DcmElement");
        return;
    }
    DcmItem* owner = element->getParentItem();
    if (!owner) {
        logError("Could not find DcmElement");
        return;
    }
    delete owner->remove(element);
    // The table still points at the removed element: rebuild it at once.
    reloadTags();
}

}  // namespace Dravelin::Dicom

#include "moc_TagsWidget.cpp"
