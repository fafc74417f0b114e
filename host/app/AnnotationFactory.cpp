#include "host/app/AnnotationFactory.h"

namespace Dravelin {

AnnotationFactory::AnnotationFactory(QString name) : m_name(std::move(name)) {}

AnnotationFactory::~AnnotationFactory() = default;

bool AnnotationFactory::add(Entry entry)
{
    for (const Entry& e : m_entries) {
        if (e.name == entry.name) {
            Log::log(3, "AnnotationFactory", "Annotation already registered: " + entry.name);
            return false;
        }
    }
    m_entries.push_back(std::move(entry));
    return true;
}

QStringList AnnotationFactory::compatibleDataAnnotations(const Data* data) const
{
    QStringList names;
    for (const Entry& e : m_entries)
        if (e.isCompatible(data))
            names << e.name;
    return names;
}

std::unique_ptr<DataAnnotation> AnnotationFactory::createDataAnnotation(const QString& name, Data* data) const
{
    for (const Entry& e : m_entries)
        if (e.name == name && e.isCompatible(data))
            return e.create(data);
    return nullptr;
}

}  // namespace Dravelin
