#include "host/data/InteractiveObject.h"

#include "host/data/Annotation.h"

namespace Dravelin {

InteractiveObject::InteractiveObject(std::unique_ptr<Annotation> annotation) : m_annotation(std::move(annotation)) {}

InteractiveObject::~InteractiveObject() = default;

}  // namespace Dravelin
