#include "host/ui/PropertiesListWidget.h"

#include "host/core/Log.h"
#include "host/ui/PropertiesWidget.h"

#include <QHBoxLayout>
#include <QInputDialog>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace Dravelin {

namespace {

// `value` as the kind of `model`, or invalid when it does not convert or breaks the limits.
QVariant convertLike(const Properties::Param& model, const QVariant& value)
{
    const int type = model.value.userType();
    if (type == QMetaType::Bool) {
        if (value.userType() == QMetaType::Bool)
            return value;
        const QString text = value.toString().trimmed().toLower();
        if (text == "true" || text == "1")
            return true;
        if (text == "false" || text == "0")
            return false;
        return {};
    }
    const QMap<QString, QString>& attributes = model.attributes;
    if (type == QMetaType::Int || type == QMetaType::Double) {
        bool ok = false;
        const double v = value.toString().trimmed().toDouble(&ok);
        if (!ok || (type == QMetaType::Int && v != std::floor(v)))
            return {};
        const double min = attributes.value(QStringLiteral("min")).toDouble(&ok);
        if (ok && v < min)
            return {};
        const double max = attributes.value(QStringLiteral("max")).toDouble(&ok);
        if (ok && v > max)
            return {};
        return type == QMetaType::Int ? QVariant(int(v)) : QVariant(v);
    }
    if (attributes.contains(QStringLiteral("values")) &&
        !attributes.value(QStringLiteral("values")).split('|').contains(value.toString()))
        return {};
    return value.toString();
}

}  // namespace

PropertiesListWidget::PropertiesListWidget(QWidget* parent) : PropertiesListWidget(Properties(), parent) {}

PropertiesListWidget::PropertiesListWidget(const Properties& entryTemplate, QWidget* parent)
    : QWidget(parent),
      m_template(entryTemplate),
      m_promptTitle(tr("Add Entry")),
      m_promptLabel(tr("Name of the new entry:"))
{
    m_list = new QListWidget(this);
    m_list->setObjectName("entryList");
    m_addButton = new QPushButton(tr("Add..."), this);
    m_addButton->setObjectName("addButton");
    m_removeButton = new QPushButton(tr("Remove"), this);
    m_removeButton->setObjectName("removeButton");
    m_editor = new PropertiesWidget(this);
    m_editor->setObjectName("entryEditor");

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_addButton);
    buttons->addWidget(m_removeButton);
    buttons->addStretch(1);
    auto* left = new QVBoxLayout;
    left->addWidget(m_list, 1);
    left->addLayout(buttons);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(left, 1);
    layout->addWidget(m_editor, 2, Qt::AlignTop);

    connect(m_addButton, &QPushButton::clicked, this, &PropertiesListWidget::onAddClicked);
    connect(m_removeButton, &QPushButton::clicked, this, [this] { removeEntry(currentIndex()); });
    connect(m_list, &QListWidget::currentRowChanged, this, &PropertiesListWidget::onCurrentRowChanged);
    connect(m_editor, &PropertiesWidget::valueChanged, this, [this](const QString& name) {
        const int row = currentIndex();
        if (row < 0)
            return;
        m_entries[size_t(row)].setParam(name, m_editor->value(name));
        Q_EMIT entriesChanged();
    });
    refreshList(-1);
}

PropertiesListWidget::~PropertiesListWidget() = default;

Properties PropertiesListWidget::shaped(const Properties& entry) const
{
    Properties result(entry.name());
    for (const Properties::Param& model : m_template.params()) {
        QVariant value = model.value;
        if (entry.hasParam(model.name)) {
            const QVariant converted = convertLike(model, entry.param(model.name));
            if (converted.isValid())
                value = converted;
            else
                Log::log(2, "Properties",
                         "Entry " + entry.name() + ": '" + entry.param(model.name).toString() + "' does not fit " +
                             model.name + "; using " + model.value.toString());
        }
        result.addParam(model.name, value);
        for (auto it = model.attributes.begin(); it != model.attributes.end(); ++it)
            result.setParamAttribute(model.name, it.key(), it.value());
    }
    return result;
}

void PropertiesListWidget::setTemplate(const Properties& entryTemplate)
{
    m_template = entryTemplate;
    for (Properties& entry : m_entries)
        entry = shaped(entry);
    refreshList(currentIndex());
}

bool PropertiesListWidget::isUsable(const QString& name, bool log) const
{
    const bool taken =
        std::any_of(m_entries.begin(), m_entries.end(), [&](const Properties& e) { return e.name() == name; });
    if ((name.trimmed().isEmpty() || taken) && log)
        Log::log(2, "Properties", "An entry needs a name of its own: '" + name + "'");
    return !name.trimmed().isEmpty() && !taken;
}

void PropertiesListWidget::setEntries(const Properties* block)
{
    m_entries.clear();
    if (block)
        for (const Properties* entry : block->allSubProperties())
            if (isUsable(entry->name(), true))
                m_entries.push_back(shaped(*entry));
    refreshList(m_entries.empty() ? -1 : 0);
    Q_EMIT entriesChanged();
}

void PropertiesListWidget::configuration(Properties* block) const
{
    if (!block)
        return;
    for (const Properties& entry : m_entries) {
        Properties* out = block->addSubProperties(entry.name());
        for (const Properties::Param& p : entry.params())
            out->addParam(p.name, p.value);
    }
}

bool PropertiesListWidget::addEntry(const QString& name)
{
    if (!isUsable(name, false))
        return false;
    Properties entry(m_template);
    entry.setName(name);
    m_entries.push_back(shaped(entry));
    refreshList(count() - 1);
    Q_EMIT entriesChanged();
    return true;
}

bool PropertiesListWidget::removeEntry(int index)
{
    if (index < 0 || index >= count())
        return false;
    m_entries.erase(m_entries.begin() + index);
    refreshList(std::min(index, count() - 1));
    Q_EMIT entriesChanged();
    return true;
}

int PropertiesListWidget::currentIndex() const
{
    return m_list->currentRow();
}

void PropertiesListWidget::setCurrentIndex(int index)
{
    m_list->setCurrentRow(index);
}

void PropertiesListWidget::setNamePrompt(const QString& title, const QString& label)
{
    m_promptTitle = title;
    m_promptLabel = label;
}

void PropertiesListWidget::onAddClicked()
{
    bool ok = false;
    const QString name = QInputDialog::getText(this, m_promptTitle, m_promptLabel, QLineEdit::Normal, QString(), &ok);
    if (!ok)
        return;
    if (!addEntry(name.trimmed()))
        QMessageBox::information(this, m_promptTitle,
                                 name.trimmed().isEmpty()
                                     ? tr("An entry needs a name.")
                                     : tr("An entry named \"%1\" exists already.").arg(name.trimmed()));
}

void PropertiesListWidget::onCurrentRowChanged(int row)
{
    m_editor->setProperties(row >= 0 && row < count() ? &m_entries[size_t(row)] : nullptr);
    m_editor->setEnabled(row >= 0);
    m_removeButton->setEnabled(row >= 0);
}

void PropertiesListWidget::refreshList(int current)
{
    const QSignalBlocker blocker(m_list);
    m_list->clear();
    for (const Properties& entry : m_entries)
        m_list->addItem(entry.name());
    m_list->setCurrentRow(current);
    onCurrentRowChanged(m_list->currentRow());
}

}  // namespace Dravelin

#include "moc_PropertiesListWidget.cpp"
