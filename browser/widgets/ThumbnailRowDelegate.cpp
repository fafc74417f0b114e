#include "browser/widgets/ThumbnailRowDelegate.h"

#include <QAbstractItemView>

#include <algorithm>

namespace Dravelin {

ThumbnailRowDelegate::ThumbnailRowDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

QSize ThumbnailRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    if (const auto* view = qobject_cast<const QAbstractItemView*>(parent()))
        size.setHeight(std::max(size.height(), view->iconSize().height() + 2));
    return size;
}

}  // namespace Dravelin

#include "moc_ThumbnailRowDelegate.cpp"
