#include "host/data/DataGroup.h"

#include <algorithm>

namespace Dravelin {

DataGroup::DataGroup() = default;

DataGroup::~DataGroup() = default;

std::unique_ptr<Data> DataGroup::copy() const
{
    return clone();
}

std::unique_ptr<DataGroup> DataGroup::clone() const
{
    auto result = std::make_unique<DataGroup>();
    copyBaseTo(*result);
    for (const auto& c : m_children)
        result->add(c->copy());
    return result;
}

std::optional<Eigen::AlignedBox3d> DataGroup::bounds() const
{
    std::optional<Eigen::AlignedBox3d> box;
    for (const auto& c : m_children) {
        if (auto b = c->bounds())
            box = box ? box->merged(*b) : *b;
    }
    return box;
}

Data* DataGroup::add(std::unique_ptr<Data> child)
{
    if (!child)
        return nullptr;
    child->m_parent = this;
    m_children.push_back(std::move(child));
    return m_children.back().get();
}

std::unique_ptr<Data> DataGroup::take(const Data* child)
{
    auto it = std::find_if(m_children.begin(), m_children.end(), [&](const auto& c) { return c.get() == child; });
    if (it == m_children.end())
        return nullptr;
    std::unique_ptr<Data> taken = std::move(*it);
    m_children.erase(it);
    taken->m_parent = nullptr;
    return taken;
}

Data* DataGroup::child(int index) const
{
    if (index < 0 || index >= size())
        return nullptr;
    return m_children[static_cast<std::size_t>(index)].get();
}

int DataGroup::indexOf(const Data* child) const
{
    for (int i = 0; i < size(); ++i)
        if (m_children[static_cast<std::size_t>(i)].get() == child)
            return i;
    return -1;
}

std::vector<Data*> DataGroup::descendants() const
{
    std::vector<Data*> result;
    for (const auto& c : m_children) {
        result.push_back(c.get());
        if (auto* group = dynamic_cast<DataGroup*>(c.get())) {
            std::vector<Data*> sub = group->descendants();
            result.insert(result.end(), sub.begin(), sub.end());
        }
    }
    return result;
}

}  // namespace Dravelin
