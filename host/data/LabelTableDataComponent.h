#pragma once

#include "host/data/DataComponent.h"

#include <QColor>
#include <QString>

#include <cstdint>
#include <map>

namespace Dravelin {

// The name and display colour of each label of a label map, so that views draw every label in
// the colour of what it stands for (the structure it was filled from). Labels without an entry
// get a fixed colour of their own.
class LabelTableDataComponent : public DataComponent
{
public:
    struct Entry
    {
        QString name;
        QColor color;
    };

    QString id() const override;
    std::unique_ptr<DataComponent> clone() const override;

    void set(std::uint16_t label, Entry entry) { m_entries[label] = std::move(entry); }
    const std::map<std::uint16_t, Entry>& entries() const { return m_entries; }
    // The colour of `label`: its entry's, else one from a palette that tells neighbours apart.
    QColor colorOf(std::uint16_t label) const;

private:
    std::map<std::uint16_t, Entry> m_entries;
};

}  // namespace Dravelin
