#pragma once

#include "host/properties/Signal.h"
#include "host/data/DataList.h"

#include <Eigen/Core>

namespace Dravelin {

// Something that shows data: the main window's set of views implements it. Controllers use it
// to read and change which items are visible and to ask for a redraw.
class DataDisplay
{
public:
    virtual ~DataDisplay();

    virtual DataList visibleData() const = 0;
    // Shows exactly `data`; notifies signalVisibleDataChanged when the set changed.
    virtual void setVisibleData(const DataList& data) = 0;
    // Redraws every view (after a data or annotation change the views cannot see).
    virtual void refresh() = 0;

    // Centres the first 3D view's scene on `centre` (world coordinates); views without a 3D
    // scene ignore it.
    virtual void setSceneCentre(const Eigen::Vector3d& centre) { (void)centre; }

    bool isVisible(const Data* data) const { return visibleData().contains(data); }
    // Adds or removes one item from the visible set.
    void setVisible(Data* data, bool visible);

    Signal<const DataList&> signalVisibleDataChanged;
};

}  // namespace Dravelin
