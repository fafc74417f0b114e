#pragma once

#include "host/core/Log.h"
#include "host/data/DataAnnotation.h"

#include <QString>
#include <QStringList>

#include <exception>
#include <functional>
#include <memory>
#include <vector>

namespace Dravelin {

class Data;

// The data annotations of one library by name. registerDataAnnotation<T>(name) needs
//   static bool T::isCompatible(const Data* data);  and  T(Data* data)
class AnnotationFactory
{
public:
    explicit AnnotationFactory(QString name = QString());
    virtual ~AnnotationFactory();
    AnnotationFactory(const AnnotationFactory&) = delete;
    AnnotationFactory& operator=(const AnnotationFactory&) = delete;

    const QString& name() const { return m_name; }

    template <typename T>
    bool registerDataAnnotation(const QString& name);

    // Names of the annotations that can draw `data`, in registration order.
    virtual QStringList compatibleDataAnnotations(const Data* data) const;
    // A new annotation called `name` drawing `data`, or null (unknown, incompatible, failed).
    virtual std::unique_ptr<DataAnnotation> createDataAnnotation(const QString& name, Data* data) const;

private:
    struct Entry
    {
        QString name;
        std::function<bool(const Data*)> isCompatible;
        std::function<std::unique_ptr<DataAnnotation>(Data*)> create;
    };
    bool add(Entry entry);

    QString m_name;
    std::vector<Entry> m_entries;
};

template <typename T>
bool AnnotationFactory::registerDataAnnotation(const QString& name)
{
    return add({name, [](const Data* d) { return d && T::isCompatible(d); },
                [name](Data* d) -> std::unique_ptr<DataAnnotation> {
                    try {
                        return std::make_unique<T>(d);
                    } catch (const std::exception& e) {
                        Log::log(4, "AnnotationFactory",
                                 "Cannot create annotation " + name + ": " + QString::fromUtf8(e.what()));
                    } catch (...) {
                        Log::log(4, "AnnotationFactory", "Cannot create annotation " + name + ": unknown exception");
                    }
                    return nullptr;
                }});
}

}  // namespace Dravelin
