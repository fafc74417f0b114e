#include "host/data/DataDisplay.h"

namespace Dravelin {

DataDisplay::~DataDisplay() = default;

void DataDisplay::setVisible(Data* data, bool visible)
{
    DataList list = visibleData();
    if (list.contains(data) == visible || !data)
        return;
    if (visible)
        list.add(data);
    else
        list.remove(data);
    setVisibleData(list);
}

}  // namespace Dravelin
