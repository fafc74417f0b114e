#pragma once

#include "host/data/DataComponent.h"

#include <QString>

#include <vector>

namespace Dravelin {

// Where a Data object was read from: one entry per source (a file, a folder, a server
// location), each with a text describing the reader that produced it ("DICOM folder
// reader", ...). Readers add one; viewers and tools test the reader text.
class DataSourceComponent : public DataComponent
{
public:
    struct Source
    {
        QString location;
        QString reader;
    };

    DataSourceComponent() = default;
    explicit DataSourceComponent(std::vector<Source> sources);

    QString id() const override;
    std::unique_ptr<DataComponent> clone() const override;

    const std::vector<Source>& sources() const { return m_sources; }
    void addSource(const QString& location, const QString& reader);

    // True when there is at least one source and every reader text contains `text`
    // (case-sensitive).
    bool allReadersContain(const QString& text) const;

private:
    std::vector<Source> m_sources;
};

}  // namespace Dravelin
