#pragma once

#include <QString>

#include <memory>

namespace Dravelin {

// Extra information attached to a Data object (its DICOM tags, where it came from, how it is
// drawn, ...). A Data owns its components and finds them by dynamic type.
class DataComponent
{
public:
    DataComponent() = default;
    virtual ~DataComponent();
    DataComponent(const DataComponent&) = delete;
    DataComponent& operator=(const DataComponent&) = delete;

    // A short, stable identifier of the component's type, for logs and the data tree.
    virtual QString id() const = 0;

    // A deep copy for Data::copy(), or null when copies of the data should not carry this
    // component (for example, one that holds resources of a single view).
    virtual std::unique_ptr<DataComponent> clone() const = 0;
};

}  // namespace Dravelin
