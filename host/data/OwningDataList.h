#pragma once

#include "host/data/Data.h"
#include "host/data/DataList.h"

#include <memory>
#include <vector>

namespace Dravelin {

// A list that owns its data: what a reader produces before the data model takes it.
class OwningDataList
{
public:
    OwningDataList();
    OwningDataList(OwningDataList&&) noexcept;
    OwningDataList& operator=(OwningDataList&&) noexcept;
    ~OwningDataList();

    // Null input adds nothing. Returns the added data.
    Data* add(std::unique_ptr<Data> data);
    // Hands back one item (null when it is not in the list) or all of them.
    std::unique_ptr<Data> take(const Data* data);
    std::vector<std::unique_ptr<Data>> release();
    void clear() { m_data.clear(); }

    std::size_t size() const { return m_data.size(); }
    bool empty() const { return m_data.empty(); }
    Data* operator[](std::size_t index) const { return m_data[index].get(); }

    // A non-owning view, valid while this list keeps its data.
    DataList list() const;
    SharedImageSet* getImage(int kind = 0, int modality = 0) const { return list().getImage(kind, modality); }
    std::vector<SharedImageSet*> getImages(int kind = 0, int modality = 0) const
    {
        return list().getImages(kind, modality);
    }
    std::vector<Data*> getAll(int kind = 0) const { return list().getAll(kind); }

private:
    std::vector<std::unique_ptr<Data>> m_data;
};

}  // namespace Dravelin
