#pragma once

#include "host/data/Data.h"

#include <memory>
#include <vector>

namespace Dravelin {

// Data that belongs together (the regions of an RT structure set, the series of a study),
// shown as one node with children in the data tree. Owns its children.
class DataGroup : public Data
{
public:
    DataGroup();
    ~DataGroup() override;

    int kind() const override { return KindGroup; }
    std::unique_ptr<Data> copy() const override;
    std::unique_ptr<DataGroup> clone() const;
    // The union of the children's bounds.
    std::optional<Eigen::AlignedBox3d> bounds() const override;

    // Adds `child` (null adds nothing) and returns it. For a group inside a data model, add
    // through DataModel::add(child, name, group), which names the child and tells the views.
    Data* add(std::unique_ptr<Data> child);
    // Removes `child` from this group and hands it back; null when it is not a direct child.
    std::unique_ptr<Data> take(const Data* child);
    int size() const { return static_cast<int>(m_children.size()); }
    Data* child(int index) const;
    int indexOf(const Data* child) const;
    const std::vector<std::unique_ptr<Data>>& children() const { return m_children; }
    // Every descendant, depth first, parents before their children.
    std::vector<Data*> descendants() const;

private:
    std::vector<std::unique_ptr<Data>> m_children;
};

}  // namespace Dravelin
