#pragma once

#include <memory>

namespace Dravelin {

class Annotation;
class Data;

// An annotation as an entry of the annotation model: the annotation (owned), the data set it is
// attached to, and the state of the user's interaction with it (selected, locked against
// editing).
class InteractiveObject
{
public:
    explicit InteractiveObject(std::unique_ptr<Annotation> annotation);
    ~InteractiveObject();
    InteractiveObject(const InteractiveObject&) = delete;
    InteractiveObject& operator=(const InteractiveObject&) = delete;

    Annotation* annotation() const { return m_annotation.get(); }
    // The data set the annotation belongs to (not owned); null for free annotations.
    Data* parentDataset() const { return m_parent; }

    bool isSelected() const { return m_selected; }
    void setSelected(bool selected) { m_selected = selected; }
    bool isLocked() const { return m_locked; }
    void setLocked(bool locked) { m_locked = locked; }

private:
    friend class AnnotationModel;
    std::unique_ptr<Annotation> m_annotation;
    Data* m_parent = nullptr;
    bool m_selected = false;
    bool m_locked = false;
};

}  // namespace Dravelin
