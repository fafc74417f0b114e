#include "host/data/OwningDataList.h"

#include "host/data/Data.h"

#include <algorithm>
#include <utility>

namespace Dravelin {

OwningDataList::OwningDataList() = default;
OwningDataList::OwningDataList(OwningDataList&&) noexcept = default;
OwningDataList& OwningDataList::operator=(OwningDataList&&) noexcept = default;
OwningDataList::~OwningDataList() = default;

Data* OwningDataList::add(std::unique_ptr<Data> data)
{
    if (!data)
        return nullptr;
    m_data.push_back(std::move(data));
    return m_data.back().get();
}

std::unique_ptr<Data> OwningDataList::take(const Data* data)
{
    auto it = std::find_if(m_data.begin(), m_data.end(), [&](const auto& d) { return d.get() == data; });
    if (it == m_data.end())
        return nullptr;
    std::unique_ptr<Data> taken = std::move(*it);
    m_data.erase(it);
    return taken;
}

std::vector<std::unique_ptr<Data>> OwningDataList::release()
{
    return std::exchange(m_data, {});
}

DataList OwningDataList::list() const
{
    DataList result;
    for (const auto& d : m_data)
        result.add(d.get());
    return result;
}

}  // namespace Dravelin
