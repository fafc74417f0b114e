#pragma once

#include "browser/models/DateRangeFilter.h"

#include <QDate>
#include <QMetaType>
#include <QWidget>

#include <optional>
#include <tuple>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QHBoxLayout;
class QLabel;
class QSpinBox;

namespace Dravelin {

// Lets the user restrict the browser to a closed date interval, as an absolute range or
// relative to today (newer or older than N years, months or days).
class DateFilterWidget : public QWidget
{
    Q_OBJECT

public:
    // (first, last), first being the earlier date; empty means no date filter.
    using Filter = DateRangeFilter;

    explicit DateFilterWidget(const QString& label, QWidget* parent = nullptr);

    Filter dateFilter() const;

public Q_SLOTS:
    void setDateFilter(const Dravelin::DateFilterWidget::Filter& filter);

Q_SIGNALS:
    void dateFilterChanged(const Dravelin::DateFilterWidget::Filter& filter);

protected:
    // The reference day of the relative modes; a hook so that callers can pin the day.
    virtual QDate today() const;

private:
    void onEnabledChanged(int state);
    void onModeChanged(int index);
    void emitChanged();

    QCheckBox* m_enabledCheckBox = nullptr;
    QComboBox* m_modeComboBox = nullptr;
    QHBoxLayout* m_rangeLayout = nullptr;
    QLabel* m_fromLabel = nullptr;
    QDateEdit* m_fromDateEdit = nullptr;
    QLabel* m_untilLabel = nullptr;
    QDateEdit* m_untilDateEdit = nullptr;
    QHBoxLayout* m_relativeLayout = nullptr;
    QSpinBox* m_amountSpinBox = nullptr;
    QComboBox* m_unitComboBox = nullptr;
};

}  // namespace Dravelin
