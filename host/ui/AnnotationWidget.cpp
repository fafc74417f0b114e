#include "host/ui/AnnotationWidget.h"

#include "host/data/Annotation.h"
#include "host/data/AnnotationModel.h"
#include "host/data/Data.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QTimer>

namespace Dravelin {

AnnotationWidget::AnnotationWidget(AnnotationModel* model, QWidget* parent) : QTreeWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("annotationWidget"));
    setHeaderLabels({tr("Annotation"), tr("Type"), tr("Data")});
    setRootIsDecorated(false);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    header()->setStretchLastSection(true);
    connect(this, &QTreeWidget::itemChanged, this, &AnnotationWidget::onItemChanged);
    if (model) {
        auto later = [this] { QTimer::singleShot(0, this, &AnnotationWidget::rebuild); };
        connect(model, &AnnotationModel::objectAdded, this, later);
        connect(model, &AnnotationModel::objectChanged, this, later);
        connect(model, &AnnotationModel::objectAboutToBeRemoved, this, later);
    }
    rebuild();
}

AnnotationWidget::~AnnotationWidget() = default;

void AnnotationWidget::rebuild()
{
    m_rebuilding = true;
    clear();
    if (m_model)
        for (InteractiveObject* object : m_model->objects()) {
            const Annotation* a = object->annotation();
            if (!a)
                continue;
            const Data* parent = m_model->getParentDataset(object);
            auto* item = new QTreeWidgetItem(this, {a->name.value().isEmpty() ? a->typeName() : a->name.value(),
                                                    a->typeName(), parent ? parent->name() : QString()});
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(0, a->visible.value() ? Qt::Checked : Qt::Unchecked);
            item->setData(0, Qt::UserRole, QVariant::fromValue(static_cast<void*>(object)));
            item->setData(0, Qt::DecorationRole, QColor(a->color.value()));
        }
    m_rebuilding = false;
}

void AnnotationWidget::onItemChanged(QTreeWidgetItem* item, int column)
{
    if (m_rebuilding || column != 0 || !m_model)
        return;
    auto* object = static_cast<InteractiveObject*>(item->data(0, Qt::UserRole).value<void*>());
    if (m_model->indexOf(object) < 0 || !object->annotation())
        return;
    object->annotation()->visible = item->checkState(0) == Qt::Checked;
    object->annotation()->signalChanged.notify();
}

void AnnotationWidget::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Delete && m_model) {
        std::vector<InteractiveObject*> gone;
        for (QTreeWidgetItem* item : selectedItems())
            gone.push_back(static_cast<InteractiveObject*>(item->data(0, Qt::UserRole).value<void*>()));
        for (InteractiveObject* object : gone)
            m_model->remove(object);
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

}  // namespace Dravelin

#include "moc_AnnotationWidget.cpp"
