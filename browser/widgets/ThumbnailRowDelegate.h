#pragma once

#include <QStyledItemDelegate>

namespace Dravelin {

// Rows tall enough for the view's icon size: a tree with uniform row heights takes every row's
// height from the first row, which (a patient) has no picture.
class ThumbnailRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit ThumbnailRowDelegate(QObject* parent = nullptr);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace Dravelin
