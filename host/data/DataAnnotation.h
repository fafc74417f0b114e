#pragma once

#include "host/data/Annotation.h"

namespace Dravelin {

class Data;

// An annotation that draws one data item (a point cloud as markers, a contour set as lines).
// The annotation model keeps at most one per item; annotation factories create them by name.
class DataAnnotation : public Annotation
{
public:
    explicit DataAnnotation(Data* data);
    ~DataAnnotation() override;

    // The item drawn; not owned. Null after the item was removed from the data model.
    Data* data() const { return m_data; }
    void setData(Data* data) { m_data = data; }

private:
    Data* m_data = nullptr;
};

}  // namespace Dravelin
