#include "host/data/DataList.h"

#include "host/data/Mesh.h"
#include "host/data/PointCloud.h"
#include "host/data/SharedImageSet.h"

#include <algorithm>

namespace Dravelin {

namespace {

bool matches(const Data* d, int kind, int modality)
{
    return (kind == Data::KindAny || d->kind() == kind) && (modality == 0 || d->modality() == modality);
}

template <typename T>
std::vector<T*> collect(const std::vector<Data*>& data)
{
    std::vector<T*> result;
    for (Data* d : data)
        if (auto* t = dynamic_cast<T*>(d))
            result.push_back(t);
    return result;
}

}  // namespace

DataList::DataList(std::initializer_list<Data*> data)
{
    for (Data* d : data)
        add(d);
}

DataList::DataList(std::vector<Data*> data)
{
    for (Data* d : data)
        add(d);
}

void DataList::add(Data* data)
{
    if (data)
        m_data.push_back(data);
}

void DataList::remove(const Data* data)
{
    m_data.erase(std::remove(m_data.begin(), m_data.end(), data), m_data.end());
}

bool DataList::contains(const Data* data) const
{
    return std::find(m_data.begin(), m_data.end(), data) != m_data.end();
}

SharedImageSet* DataList::getImage(int kind, int modality) const
{
    for (Data* d : m_data)
        if (auto* set = dynamic_cast<SharedImageSet*>(d); set && matches(set, kind, modality))
            return set;
    return nullptr;
}

std::vector<SharedImageSet*> DataList::getImages(int kind, int modality) const
{
    std::vector<SharedImageSet*> result;
    for (Data* d : m_data)
        if (auto* set = dynamic_cast<SharedImageSet*>(d); set && matches(set, kind, modality))
            result.push_back(set);
    return result;
}

std::vector<Data*> DataList::getAll(int kind) const
{
    std::vector<Data*> result;
    for (Data* d : m_data)
        if (matches(d, kind, 0))
            result.push_back(d);
    return result;
}

std::vector<PointCloud*> DataList::getPointClouds() const
{
    return collect<PointCloud>(m_data);
}

std::vector<Mesh*> DataList::getMeshes() const
{
    return collect<Mesh>(m_data);
}

}  // namespace Dravelin
