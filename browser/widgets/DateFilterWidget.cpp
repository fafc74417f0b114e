#include "browser/widgets/DateFilterWidget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>

#include <functional>

namespace Dravelin {

namespace {

enum Mode { Range = 0, NewerThan = 1, OlderThan = 2 };
enum Unit { Years = 0, Months = 1, Days = 2 };

const QDate kMinimumDate(1950, 1, 1);

void setLayoutWidgets(QHBoxLayout* layout, const std::function<void(QWidget*)>& apply)
{
    for (int i = 0; i < layout->count(); ++i)
        if (QWidget* w = layout->itemAt(i)->widget())
            apply(w);
}

QDateEdit* makeDateEdit(QWidget* parent, QDate date)
{
    auto* edit = new QDateEdit(parent);
    edit->setEnabled(false);
    edit->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    edit->setMinimumDate(kMinimumDate);
    edit->setDate(date);
    return edit;
}

}  // namespace

DateFilterWidget::DateFilterWidget(const QString& label, QWidget* parent) : QWidget(parent)
{
    qRegisterMetaType<Filter>("Dravelin::DateFilterWidget::Filter");

    m_enabledCheckBox = new QCheckBox(label, this);
    m_modeComboBox = new QComboBox(this);
    m_modeComboBox->addItems({tr("Range"), tr("Newer than"), tr("Older than")});
    m_modeComboBox->setEnabled(false);

    m_rangeLayout = new QHBoxLayout();
    m_fromLabel = new QLabel(tr("From:"), this);
    m_fromLabel->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Minimum);
    m_fromDateEdit = makeDateEdit(this, kMinimumDate);
    m_untilLabel = new QLabel(tr("Until:"), this);
    m_untilLabel->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Minimum);
    m_untilDateEdit = makeDateEdit(this, QDate::currentDate());
    m_rangeLayout->addWidget(m_fromLabel);
    m_rangeLayout->addWidget(m_fromDateEdit);
    m_rangeLayout->addWidget(m_untilLabel);
    m_rangeLayout->addWidget(m_untilDateEdit);

    m_relativeLayout = new QHBoxLayout();
    m_amountSpinBox = new QSpinBox(this);
    m_amountSpinBox->setEnabled(false);
    m_amountSpinBox->setVisible(false);
    m_amountSpinBox->setMinimum(1);
    m_amountSpinBox->setValue(1);
    m_unitComboBox = new QComboBox(this);
    m_unitComboBox->setEnabled(false);
    m_unitComboBox->setVisible(false);
    m_unitComboBox->addItem(tr("Year(s)"), Years);
    m_unitComboBox->addItem(tr("Month(s)"), Months);
    m_unitComboBox->addItem(tr("Day(s)"), Days);
    m_relativeLayout->addWidget(m_amountSpinBox);
    m_relativeLayout->addWidget(m_unitComboBox);

    m_enabledCheckBox->setObjectName("enabledCheckBox");
    m_modeComboBox->setObjectName("modeComboBox");
    m_fromDateEdit->setObjectName("fromDateEdit");
    m_untilDateEdit->setObjectName("untilDateEdit");
    m_amountSpinBox->setObjectName("amountSpinBox");
    m_unitComboBox->setObjectName("unitComboBox");

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_enabledCheckBox);
    layout->addWidget(m_modeComboBox);
    layout->addLayout(m_rangeLayout, 2);
    layout->addLayout(m_relativeLayout, 2);

    connect(m_enabledCheckBox, &QCheckBox::stateChanged, this, &DateFilterWidget::onEnabledChanged);
    connect(m_modeComboBox, qOverload<int>(&QComboBox::currentIndexChanged), this, &DateFilterWidget::onModeChanged);
    connect(m_fromDateEdit, &QDateEdit::dateChanged, this, &DateFilterWidget::emitChanged);
    connect(m_untilDateEdit, &QDateEdit::dateChanged, this, &DateFilterWidget::emitChanged);
    connect(m_amountSpinBox, qOverload<int>(&QSpinBox::valueChanged), this, &DateFilterWidget::emitChanged);
    connect(m_unitComboBox, qOverload<int>(&QComboBox::currentIndexChanged), this, &DateFilterWidget::emitChanged);
}

QDate DateFilterWidget::today() const
{
    return QDate::currentDate();
}

DateFilterWidget::Filter DateFilterWidget::dateFilter() const
{
    if (!m_enabledCheckBox->isChecked())
        return std::nullopt;
    const int amount = m_amountSpinBox->value();
    const QDate now = today();
    QDate back;
    switch (m_unitComboBox->currentIndex()) {
        case Years: back = now.addYears(-amount); break;
        case Months: back = now.addMonths(-amount); break;
        case Days: back = now.addDays(-amount); break;
        default: break;
    }
    switch (m_modeComboBox->currentIndex()) {
        case Range: return std::make_tuple(m_fromDateEdit->date(), m_untilDateEdit->date());
        case NewerThan:
            if (back.isValid())
                return std::make_tuple(back, now);
            break;
        case OlderThan:
            if (back.isValid())
                return std::make_tuple(m_fromDateEdit->minimumDate(), back);
            break;
        default: break;
    }
    return std::nullopt;
}

void DateFilterWidget::setDateFilter(const Filter& filter)
{
    const bool wasBlocked = blockSignals(true);
    m_enabledCheckBox->setChecked(filter.has_value());
    if (filter) {
        const auto& [first, last] = *filter;
        m_fromDateEdit->setDate(first);
        m_untilDateEdit->setDate(last);
        const int mode = m_modeComboBox->currentIndex();
        if ((mode == NewerThan && last != today()) || (mode == OlderThan && first != m_fromDateEdit->minimumDate()))
            m_modeComboBox->setCurrentIndex(Range);
    } else {
        m_modeComboBox->setEnabled(false);
        m_fromDateEdit->setEnabled(false);
        m_untilDateEdit->setEnabled(false);
    }
    blockSignals(wasBlocked);
    emit dateFilterChanged(filter);
}

void DateFilterWidget::onEnabledChanged(int state)
{
    const bool enabled = state == Qt::Checked;
    m_modeComboBox->setEnabled(enabled);
    const auto apply = [enabled](QWidget* w) { w->setEnabled(enabled); };
    setLayoutWidgets(m_rangeLayout, apply);
    setLayoutWidgets(m_relativeLayout, apply);
    emitChanged();
}

void DateFilterWidget::onModeChanged(int index)
{
    setLayoutWidgets(m_rangeLayout, [index](QWidget* w) { w->setVisible(index == Range); });
    setLayoutWidgets(m_relativeLayout,
                     [index](QWidget* w) { w->setVisible(index == NewerThan || index == OlderThan); });
    emitChanged();
}

void DateFilterWidget::emitChanged()
{
    emit dateFilterChanged(dateFilter());
}

}  // namespace Dravelin

#include "moc_DateFilterWidget.cpp"
