#pragma once

#include <QDate>
#include <QMetaType>

#include <optional>
#include <tuple>

namespace Dravelin {

// An optional (first, last) pair of dates; empty means no date filter. Shared by the date
// filter widget and the filter model, so that one meta type serves both.
using DateRangeFilter = std::optional<std::tuple<QDate, QDate>>;

}  // namespace Dravelin

Q_DECLARE_METATYPE(Dravelin::DateRangeFilter)
