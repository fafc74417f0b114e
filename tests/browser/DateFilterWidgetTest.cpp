#include "browser/widgets/DateFilterWidget.h"
#include "tests/support/TestEnvironment.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QSignalSpy>
#include <QSpinBox>

#include <gtest/gtest.h>

using namespace Dravelin;
using Filter = DateFilterWidget::Filter;

namespace {

// Pins "today" so that month arithmetic can be checked on the last day of a month.
class PinnedDateFilterWidget : public DateFilterWidget
{
public:
    explicit PinnedDateFilterWidget(QDate today) : DateFilterWidget("Study date"), m_today(today) {}

protected:
    QDate today() const override { return m_today; }

private:
    QDate m_today;
};

struct Controls
{
    explicit Controls(DateFilterWidget& w)
        : enabled(w.findChild<QCheckBox*>("enabledCheckBox")),
          mode(w.findChild<QComboBox*>("modeComboBox")),
          from(w.findChild<QDateEdit*>("fromDateEdit")),
          until(w.findChild<QDateEdit*>("untilDateEdit")),
          amount(w.findChild<QSpinBox*>("amountSpinBox")),
          unit(w.findChild<QComboBox*>("unitComboBox"))
    {
    }
    QCheckBox* enabled;
    QComboBox* mode;
    QDateEdit* from;
    QDateEdit* until;
    QSpinBox* amount;
    QComboBox* unit;
};

Filter interval(QDate first, QDate last)
{
    return std::make_tuple(first, last);
}

Filter lastEmitted(const QSignalSpy& spy)
{
    return spy.last().at(0).value<Filter>();
}

}  // namespace

TEST(DateFilterWidget, NewWidgetIsOffAndRangeCoversEverythingUntilToday)
{
    DateFilterWidget w("Study date");
    Controls c(w);
    QSignalSpy spy(&w, &DateFilterWidget::dateFilterChanged);
    EXPECT_FALSE(w.dateFilter().has_value());
    EXPECT_FALSE(c.mode->isEnabled());
    EXPECT_TRUE(c.amount->isHidden());

    c.enabled->setChecked(true);
    EXPECT_TRUE(c.mode->isEnabled());
    EXPECT_TRUE(c.from->isEnabled());
    EXPECT_TRUE(c.unit->isEnabled());
    const Filter expected = interval(QDate(1950, 1, 1), QDate::currentDate());
    EXPECT_EQ(w.dateFilter(), expected);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(lastEmitted(spy), expected);
}

TEST(DateFilterWidget, RelativeModesCountBackFromToday)
{
    // Mode 1 ends today, mode 2 ("Older than") ends that long ago; units: 0 years, 1 months, 2 days.
    struct Case
    {
        QDate today;
        int mode, amount, unit;
        Filter expected;
    };
    const Case cases[] = {
        // Qt clamps 31 February to the last day of February.
        {QDate(2023, 5, 31), 1, 3, 1, interval(QDate(2023, 2, 28), QDate(2023, 5, 31))},
        {QDate(2024, 5, 31), 1, 3, 1, interval(QDate(2024, 2, 29), QDate(2024, 5, 31))},
        {QDate(2023, 5, 31), 1, 2, 2, interval(QDate(2023, 5, 29), QDate(2023, 5, 31))},
        {QDate(2023, 5, 31), 2, 1, 0, interval(QDate(1950, 1, 1), QDate(2022, 5, 31))},
        {QDate(2023, 5, 31), 2, 1, 2, interval(QDate(1950, 1, 1), QDate(2023, 5, 30))},
    };
    for (const Case& t : cases) {
        PinnedDateFilterWidget w(t.today);
        Controls c(w);
        c.enabled->setChecked(true);
        c.mode->setCurrentIndex(t.mode);
        EXPECT_TRUE(c.from->isHidden());
        EXPECT_FALSE(c.amount->isHidden());
        c.amount->setValue(t.amount);
        c.unit->setCurrentIndex(t.unit);
        EXPECT_EQ(w.dateFilter(), t.expected)
            << t.today.toString().toStdString() << " " << t.mode << t.amount << t.unit;
    }
}

TEST(DateFilterWidget, EveryControlChangeEmitsTheCurrentFilter)
{
    PinnedDateFilterWidget w(QDate(2023, 5, 31));
    Controls c(w);
    c.enabled->setChecked(true);
    QSignalSpy spy(&w, &DateFilterWidget::dateFilterChanged);
    c.from->setDate(QDate(2001, 2, 3));
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(lastEmitted(spy), interval(QDate(2001, 2, 3), QDate::currentDate()));
    c.mode->setCurrentIndex(1);
    c.amount->setValue(2);
    c.unit->setCurrentIndex(2);
    ASSERT_EQ(spy.count(), 4);
    EXPECT_EQ(lastEmitted(spy), interval(QDate(2023, 5, 29), QDate(2023, 5, 31)));
    c.enabled->setChecked(false);
    EXPECT_FALSE(lastEmitted(spy).has_value());
    EXPECT_FALSE(c.amount->isEnabled());
}

TEST(DateFilterWidget, SetDateFilterKeepsRelativeModeOnlyWhenTheDatesFit)
{
    PinnedDateFilterWidget w(QDate(2023, 5, 31));
    Controls c(w);
    c.mode->setCurrentIndex(1);
    QSignalSpy spy(&w, &DateFilterWidget::dateFilterChanged);

    const Filter endsToday = interval(QDate(2023, 1, 1), QDate(2023, 5, 31));
    w.setDateFilter(endsToday);
    EXPECT_EQ(c.mode->currentIndex(), 1);
    EXPECT_TRUE(c.enabled->isChecked());
    EXPECT_TRUE(c.amount->isEnabled());
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(lastEmitted(spy), endsToday);

    const Filter other = interval(QDate(2020, 1, 1), QDate(2021, 6, 30));
    w.setDateFilter(other);
    EXPECT_EQ(c.mode->currentIndex(), 0);
    EXPECT_FALSE(c.from->isHidden());
    EXPECT_EQ(c.from->date(), QDate(2020, 1, 1));
    EXPECT_EQ(c.until->date(), QDate(2021, 6, 30));
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(lastEmitted(spy), other);

    c.mode->setCurrentIndex(2);
    w.setDateFilter(interval(QDate(1950, 1, 1), QDate(2000, 1, 1)));
    EXPECT_EQ(c.mode->currentIndex(), 2);
    w.setDateFilter(interval(QDate(1960, 1, 1), QDate(2000, 1, 1)));
    EXPECT_EQ(c.mode->currentIndex(), 0);
}

TEST(DateFilterWidget, SettingTheEmptyFilterSwitchesTheControlsOff)
{
    DateFilterWidget w("Series date");
    Controls c(w);
    w.setDateFilter(interval(QDate(2020, 1, 1), QDate(2021, 1, 1)));
    QSignalSpy spy(&w, &DateFilterWidget::dateFilterChanged);
    w.setDateFilter(std::nullopt);
    EXPECT_FALSE(c.enabled->isChecked());
    EXPECT_FALSE(c.mode->isEnabled());
    EXPECT_FALSE(c.from->isEnabled());
    EXPECT_FALSE(c.until->isEnabled());
    ASSERT_EQ(spy.count(), 1);
    EXPECT_FALSE(lastEmitted(spy).has_value());
}
