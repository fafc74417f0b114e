#include "host/data/DataAnnotation.h"

#include "host/data/Data.h"

namespace Dravelin {

DataAnnotation::DataAnnotation(Data* data) : m_data(data)
{
    if (data)
        name = data->name();
}

DataAnnotation::~DataAnnotation() = default;

}  // namespace Dravelin
