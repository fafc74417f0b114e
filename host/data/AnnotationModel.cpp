#include "host/data/AnnotationModel.h"

#include "host/data/Annotation.h"
#include "host/data/Data.h"
#include "host/data/DataAnnotation.h"
#include "host/data/DataModel.h"
#include "host/data/InteractiveObject.h"

#include <algorithm>

namespace Dravelin {

AnnotationModel::AnnotationModel(DataModel* dataModel, QObject* parent) : QObject(parent), m_dataModel(dataModel)
{
    if (dataModel)
        connect(dataModel, &DataModel::dataAboutToBeRemoved, this, &AnnotationModel::onDataAboutToBeRemoved);
}

AnnotationModel::~AnnotationModel()
{
    for (auto& o : m_objects)
        o->annotation()->signalChanged.disconnect(m_handles[o.get()]);
}

InteractiveObject* AnnotationModel::add(std::unique_ptr<InteractiveObject> object, Data* parent, int index)
{
    if (!object || !object->annotation())
        return nullptr;
    InteractiveObject* raw = object.get();
    raw->m_parent = parent;
    if (index < 0 || index > size())
        index = size();
    m_objects.insert(m_objects.begin() + index, std::move(object));
    QPointer<AnnotationModel> self(this);
    m_handles[raw] = raw->annotation()->signalChanged.connect([self, raw] {
        if (self && self->indexOf(raw) >= 0)
            emit self->objectChanged(raw);
    });
    emit objectAdded(raw);
    return raw;
}

InteractiveObject* AnnotationModel::add(std::unique_ptr<Annotation> annotation, Data* parent, int index)
{
    if (!annotation)
        return nullptr;
    return add(std::make_unique<InteractiveObject>(std::move(annotation)), parent, index);
}

bool AnnotationModel::remove(InteractiveObject* object)
{
    const int i = indexOf(object);
    if (i < 0)
        return false;
    emit objectAboutToBeRemoved(object);
    object->annotation()->signalChanged.disconnect(m_handles[object]);
    m_handles.erase(object);
    m_objects.erase(m_objects.begin() + indexOf(object));
    return true;
}

void AnnotationModel::clear()
{
    while (!m_objects.empty())
        remove(m_objects.back().get());
}

InteractiveObject* AnnotationModel::at(int index) const
{
    if (index < 0 || index >= size())
        return nullptr;
    return m_objects[static_cast<std::size_t>(index)].get();
}

int AnnotationModel::indexOf(const InteractiveObject* object) const
{
    for (int i = 0; i < size(); ++i)
        if (m_objects[static_cast<std::size_t>(i)].get() == object)
            return i;
    return -1;
}

std::vector<InteractiveObject*> AnnotationModel::objects() const
{
    std::vector<InteractiveObject*> result;
    for (const auto& o : m_objects)
        result.push_back(o.get());
    return result;
}

InteractiveObject* AnnotationModel::find(const Annotation* annotation) const
{
    for (const auto& o : m_objects)
        if (o->annotation() == annotation)
            return o.get();
    return nullptr;
}

std::vector<InteractiveObject*> AnnotationModel::attachedTo(const Data* parent) const
{
    std::vector<InteractiveObject*> result;
    for (const auto& o : m_objects)
        if (parent && o->parentDataset() == parent)
            result.push_back(o.get());
    return result;
}

InteractiveObject* AnnotationModel::getDataAnnotation(const Data* data) const
{
    if (!data)
        return nullptr;
    for (const auto& o : m_objects)
        if (auto* da = dynamic_cast<DataAnnotation*>(o->annotation()); da && da->data() == data)
            return o.get();
    return nullptr;
}

Data* AnnotationModel::getParentDataset(const InteractiveObject* object) const
{
    return indexOf(object) >= 0 ? object->parentDataset() : nullptr;
}

Data* AnnotationModel::getParentDataset(const Annotation* annotation) const
{
    const InteractiveObject* o = find(annotation);
    return o ? o->parentDataset() : nullptr;
}

void AnnotationModel::onDataAboutToBeRemoved(Data* data)
{
    std::vector<InteractiveObject*> doomed;
    for (const auto& o : m_objects) {
        auto* da = dynamic_cast<DataAnnotation*>(o->annotation());
        if (o->parentDataset() == data || (da && da->data() == data))
            doomed.push_back(o.get());
    }
    for (InteractiveObject* o : doomed)
        remove(o);
}

}  // namespace Dravelin

#include "moc_AnnotationModel.cpp"
