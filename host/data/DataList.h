#pragma once

#include <cstddef>
#include <initializer_list>
#include <vector>

namespace Dravelin {

class Data;
class SharedImageSet;
class PointCloud;
class Mesh;

// A list of data that someone else owns: the selection in the data tree, an algorithm's input.
// Kind and modality arguments take the numbers of Data::Kind and Data::Modality; 0 matches any.
class DataList
{
public:
    DataList() = default;
    DataList(std::initializer_list<Data*> data);
    explicit DataList(std::vector<Data*> data);

    // Null input adds nothing.
    void add(Data* data);
    void remove(const Data* data);
    bool contains(const Data* data) const;
    void clear() { m_data.clear(); }

    std::size_t size() const { return m_data.size(); }
    bool empty() const { return m_data.empty(); }
    Data* operator[](std::size_t index) const { return m_data[index]; }
    std::vector<Data*>::const_iterator begin() const { return m_data.begin(); }
    std::vector<Data*>::const_iterator end() const { return m_data.end(); }

    // The first image set of that kind and modality, or null.
    SharedImageSet* getImage(int kind = 0, int modality = 0) const;
    std::vector<SharedImageSet*> getImages(int kind = 0, int modality = 0) const;
    // Every item of that kind, in list order.
    std::vector<Data*> getAll(int kind = 0) const;
    std::vector<PointCloud*> getPointClouds() const;
    std::vector<Mesh*> getMeshes() const;

    bool operator==(const DataList& other) const { return m_data == other.m_data; }
    bool operator!=(const DataList& other) const { return m_data != other.m_data; }

private:
    std::vector<Data*> m_data;
};

}  // namespace Dravelin
