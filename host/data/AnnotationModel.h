#pragma once

#include "host/data/InteractiveObject.h"

#include <QObject>
#include <QPointer>

#include <map>
#include <memory>
#include <vector>

namespace Dravelin {

class Annotation;
class Data;
class DataModel;

// Owns the annotations of the application, each wrapped in an InteractiveObject and optionally
// attached to a data set. With a data model, annotations disappear with the data they are
// attached to or draw.
class AnnotationModel : public QObject
{
    Q_OBJECT
public:
    explicit AnnotationModel(DataModel* dataModel = nullptr, QObject* parent = nullptr);
    ~AnnotationModel() override;

    // Takes `object` (null adds nothing) attached to `parent` (may be null) at position `index`
    // of the model's list; -1 or an index past the end appends. Returns the added object.
    InteractiveObject* add(std::unique_ptr<InteractiveObject> object, Data* parent = nullptr, int index = -1);
    // Wraps `annotation` in a new InteractiveObject and adds that.
    InteractiveObject* add(std::unique_ptr<Annotation> annotation, Data* parent = nullptr, int index = -1);
    // Deletes the object; false when it is not in this model.
    bool remove(InteractiveObject* object);
    void clear();

    int size() const { return static_cast<int>(m_objects.size()); }
    InteractiveObject* at(int index) const;
    int indexOf(const InteractiveObject* object) const;
    std::vector<InteractiveObject*> objects() const;
    // The object holding `annotation`, or null.
    InteractiveObject* find(const Annotation* annotation) const;
    // Annotations attached to `parent`.
    std::vector<InteractiveObject*> attachedTo(const Data* parent) const;

    // The object whose data annotation draws `data`, or null.
    InteractiveObject* getDataAnnotation(const Data* data) const;
    // The data set `object` (or `annotation`) is attached to, or null.
    Data* getParentDataset(const InteractiveObject* object) const;
    Data* getParentDataset(const Annotation* annotation) const;

signals:
    void objectAdded(Dravelin::InteractiveObject* object);
    void objectAboutToBeRemoved(Dravelin::InteractiveObject* object);
    // The annotation's parameters or primitives changed.
    void objectChanged(Dravelin::InteractiveObject* object);

private:
    void onDataAboutToBeRemoved(Data* data);

    QPointer<DataModel> m_dataModel;
    std::vector<std::unique_ptr<InteractiveObject>> m_objects;
    std::map<const InteractiveObject*, int> m_handles;
};

}  // namespace Dravelin
