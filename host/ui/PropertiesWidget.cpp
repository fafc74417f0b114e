#include "host/ui/PropertiesWidget.h"

#include "host/core/Log.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <cmath>

namespace Dravelin {

namespace {

const Properties::Param* findParam(const Properties& block, const QString& name)
{
    const Properties::Param* found = nullptr;
    for (const Properties::Param& p : block.params())
        if (p.name == name)
            found = &p;
    return found;
}

QStringList choicesOf(const Properties::Param& param)
{
    return param.attributes.value(QStringLiteral("values")).split('|', Qt::SkipEmptyParts);
}

// Strict reading of a boolean: real booleans, 0/1, and the texts true/false/1/0.
bool toBool(const QVariant& value, bool* ok)
{
    *ok = true;
    if (value.userType() == QMetaType::Bool)
        return value.toBool();
    const QString text = value.toString().trimmed().toLower();
    if (text == "true" || text == "1")
        return true;
    if (text == "false" || text == "0")
        return false;
    *ok = false;
    return false;
}

}  // namespace

PropertiesWidget::PropertiesWidget(QWidget* parent) : PropertiesWidget(nullptr, parent) {}

PropertiesWidget::PropertiesWidget(const Properties* properties, QWidget* parent) : QWidget(parent)
{
    m_layout = new QFormLayout(this);
    m_layout->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    setProperties(properties);
}

PropertiesWidget::~PropertiesWidget() = default;

PropertiesWidget::Kind PropertiesWidget::kindOf(const Properties::Param& param)
{
    if (param.attributes.contains(QStringLiteral("values")))
        return Kind::Enum;
    switch (param.value.userType()) {
        case QMetaType::Bool: return Kind::Bool;
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Short:
        case QMetaType::UShort: return Kind::Int;
        case QMetaType::Double:
        case QMetaType::Float: return Kind::Double;
        default: return Kind::Text;
    }
}

PropertiesWidget::Limits PropertiesWidget::limitsOf(const Properties::Param& param, Kind kind)
{
    Limits limits = kind == Kind::Int ? Limits{double(INT_MIN), double(INT_MAX)} : Limits{-1e15, 1e15};
    bool ok = false;
    const double min = param.attributes.value(QStringLiteral("min")).toDouble(&ok);
    if (ok)
        limits.min = std::max(limits.min, min);
    const double max = param.attributes.value(QStringLiteral("max")).toDouble(&ok);
    if (ok)
        limits.max = std::min(limits.max, max);
    if (limits.max < limits.min)
        limits.max = limits.min;
    return limits;
}

void PropertiesWidget::setProperties(const Properties* properties)
{
    m_block = properties ? *properties : Properties();
    build();
}

void PropertiesWidget::build()
{
    // Old editors go later: this may run from one of their own signals.
    while (m_layout->rowCount() > 0) {
        const QFormLayout::TakeRowResult row = m_layout->takeRow(0);
        for (QLayoutItem* item : {row.labelItem, row.fieldItem}) {
            if (!item)
                continue;
            if (QWidget* widget = item->widget()) {
                widget->hide();
                widget->setObjectName(QString());
                widget->disconnect(this);
                widget->deleteLater();
            }
            delete item;
        }
    }
    m_editors.clear();
    m_nested.clear();

    // A repeated name is edited once: lookups by name see its last occurrence.
    const std::vector<Properties::Param> params = m_block.params();
    for (size_t i = 0; i < params.size(); ++i) {
        const Properties::Param& param = params[i];
        if (findParam(m_block, param.name) != &m_block.params()[i] || param.name.isEmpty())
            continue;
        QWidget* editor = createEditor(param);
        const QString label = param.attributes.value(QStringLiteral("label"), param.name);
        const QString tooltip = param.attributes.value(QStringLiteral("tooltip"));
        editor->setObjectName(param.name);
        editor->setToolTip(tooltip);
        auto* labelWidget = new QLabel(label + ":", this);
        labelWidget->setToolTip(tooltip);
        labelWidget->setBuddy(editor);
        m_layout->addRow(labelWidget, editor);
        m_editors[param.name] = editor;
    }
    for (const Properties* child : m_block.allSubProperties()) {
        if (m_nested.count(child->name()))
            continue;
        auto* box = new QGroupBox(child->name(), this);
        auto* boxLayout = new QVBoxLayout(box);
        auto* nested = new PropertiesWidget(child, box);
        nested->layout()->setContentsMargins(0, 0, 0, 0);
        boxLayout->addWidget(nested);
        const QString childName = child->name();
        connect(nested, &PropertiesWidget::valueChanged, this,
                [this, childName](const QString& name) { Q_EMIT valueChanged(childName + "/" + name); });
        m_layout->addRow(box);
        m_nested[childName] = nested;
    }
}

QWidget* PropertiesWidget::createEditor(const Properties::Param& param)
{
    const QString name = param.name;
    const Kind kind = kindOf(param);
    auto loadProblem = [&](const QString& what) { Log::log(2, "Properties", "Parameter " + name + ": " + what); };

    switch (kind) {
        case Kind::Bool: {
            auto* box = new QCheckBox(this);
            box->setChecked(param.value.toBool());
            connect(box, &QCheckBox::toggled, this, [this, name](bool on) { store(name, on); });
            return box;
        }
        case Kind::Int: {
            auto* spin = new QSpinBox(this);
            const Limits limits = limitsOf(param, kind);
            spin->setRange(int(limits.min), int(limits.max));
            const qlonglong v = param.value.toLongLong();
            if (v < limits.min || v > limits.max) {
                loadProblem(
                    QString("%1 lies outside %2..%3 and was clamped").arg(v).arg(spin->minimum()).arg(spin->maximum()));
                m_block.setParam(name, int(std::clamp<qlonglong>(v, spin->minimum(), spin->maximum())));
            }
            spin->setValue(m_block.param(name).toInt());
            connect(spin, QOverload<int>::of(&QSpinBox::valueChanged), this,
                    [this, name](int value) { store(name, value); });
            return spin;
        }
        case Kind::Double: {
            auto* spin = new QDoubleSpinBox(this);
            const Limits limits = limitsOf(param, kind);
            bool ok = false;
            const int decimals = param.attributes.value(QStringLiteral("decimals")).toInt(&ok);
            spin->setDecimals(ok ? std::clamp(decimals, 0, 12) : 3);
            spin->setRange(limits.min, limits.max);
            const double v = param.value.toDouble();
            if (!(v >= limits.min && v <= limits.max)) {
                loadProblem(QString("%1 lies outside %2..%3 and was clamped").arg(v).arg(limits.min).arg(limits.max));
                m_block.setParam(name, std::isnan(v) ? limits.min : std::clamp(v, limits.min, limits.max));
            }
            spin->setValue(m_block.param(name).toDouble());
            connect(spin, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
                    [this, name](double value) { store(name, value); });
            return spin;
        }
        case Kind::Enum: {
            auto* combo = new QComboBox(this);
            const QStringList choices = choicesOf(param);
            combo->addItems(choices);
            const bool byIndex = param.value.userType() == QMetaType::Int;
            const int index = byIndex ? param.value.toInt() : choices.indexOf(param.value.toString());
            if (index < 0 || index >= choices.size()) {
                loadProblem("'" + param.value.toString() + "' is not one of " + choices.join(", "));
                if (!choices.isEmpty())
                    m_block.setParam(name, byIndex ? QVariant(0) : QVariant(choices.first()));
            }
            combo->setCurrentIndex(std::clamp(index, 0, int(choices.size()) - 1));
            connect(combo, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                    [this, name, combo, byIndex](int i) {
                        if (i >= 0)
                            store(name, byIndex ? QVariant(i) : QVariant(combo->itemText(i)));
                    });
            return combo;
        }
        case Kind::Text: break;
    }
    auto* edit = new QLineEdit(param.value.toString(), this);
    edit->setCursorPosition(0);
    connect(edit, &QLineEdit::textChanged, this, [this, name](const QString& text) { store(name, text); });
    return edit;
}

void PropertiesWidget::store(const QString& name, const QVariant& value)
{
    m_block.setParam(name, value);
    Q_EMIT valueChanged(name);
}

bool PropertiesWidget::setValue(const QString& name, const QVariant& value)
{
    const Properties::Param* param = findParam(m_block, name);
    auto it = m_editors.find(name);
    if (!param || it == m_editors.end())
        return false;
    const Kind kind = kindOf(*param);
    bool ok = false;
    switch (kind) {
        case Kind::Bool: {
            const bool on = toBool(value, &ok);
            if (ok)
                static_cast<QCheckBox*>(it->second)->setChecked(on);
            return ok;
        }
        case Kind::Int: {
            const double v = value.toDouble(&ok);
            auto* spin = static_cast<QSpinBox*>(it->second);
            if (!ok || v != std::floor(v) || v < spin->minimum() || v > spin->maximum())
                return false;
            spin->setValue(int(v));
            return true;
        }
        case Kind::Double: {
            const double v = value.toDouble(&ok);
            auto* spin = static_cast<QDoubleSpinBox*>(it->second);
            if (!ok || !(v >= spin->minimum() && v <= spin->maximum()))
                return false;
            spin->setValue(v);
            return true;
        }
        case Kind::Enum: {
            auto* combo = static_cast<QComboBox*>(it->second);
            int index = -1;
            if (param->value.userType() == QMetaType::Int) {
                index = value.toInt(&ok);
                if (!ok)
                    index = -1;
            } else {
                index = combo->findText(value.toString(), Qt::MatchExactly);
            }
            if (index < 0 || index >= combo->count())
                return false;
            combo->setCurrentIndex(index);
            return true;
        }
        case Kind::Text:
            if (!value.canConvert<QString>())
                return false;
            static_cast<QLineEdit*>(it->second)->setText(value.toString());
            return true;
    }
    return false;
}

QVariant PropertiesWidget::value(const QString& name) const
{
    return m_block.param(name);
}

QWidget* PropertiesWidget::editor(const QString& name) const
{
    auto it = m_editors.find(name);
    return it == m_editors.end() ? nullptr : it->second;
}

PropertiesWidget* PropertiesWidget::nestedWidget(const QString& name) const
{
    auto it = m_nested.find(name);
    return it == m_nested.end() ? nullptr : it->second;
}

void PropertiesWidget::configuration(Properties* properties) const
{
    if (!properties)
        return;
    for (const Properties::Param& p : m_block.params()) {
        const Properties::Param* param = findParam(m_block, p.name);
        if (param != &p || !m_editors.count(p.name))
            continue;
        properties->setParam(param->name, param->value);
        for (auto it = param->attributes.begin(); it != param->attributes.end(); ++it)
            properties->setParamAttribute(param->name, it.key(), it.value());
    }
    for (const auto& entry : m_nested) {
        Properties* block = properties->subProperties(entry.first);
        if (!block)
            block = properties->addSubProperties(entry.first);
        *block = entry.second->properties();
    }
}

}  // namespace Dravelin

#include "moc_PropertiesWidget.cpp"
