#pragma once

#include "host/properties/Properties.h"
#include "host/data/DataList.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <typeindex>

namespace Dravelin {

class Algorithm;

// What a factory knows about one algorithm without creating it.
struct AlgorithmDescriptor
{
    QString id;          // full id, "<factory>.<id>"
    QString name;        // menu path, levels separated by ";"
    QString attributes;  // free text for the application ("io: read", ...)
    // Applied with configure() to every new instance; may be null.
    std::shared_ptr<const Properties> properties;
    // IoAlgorithm::Read or Write for IO algorithms, -1 for the others.
    int ioMode = -1;
    std::type_index type = typeid(void);
    // Whether the algorithm accepts `data` as input; never throws.
    std::function<bool(const DataList&)> isCompatible;
    // A configured instance for `data`, or null when incompatible or when construction failed
    // (logged); never throws.
    std::function<std::unique_ptr<Algorithm>(const DataList&)> create;

    bool isIo() const { return ioMode >= 0; }
    // The last level of the menu path, and the levels before it.
    QString displayName() const;
    QStringList menuPath() const;
};

}  // namespace Dravelin
