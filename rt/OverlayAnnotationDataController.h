#pragma once

#include "host/app/DataController.h"

#include <QObject>

namespace Dravelin {
class SharedImageSet;
}

namespace Dravelin::Dicom {

// Shows the DICOM overlay planes of image sets as "DICOM Overlay" annotations: for the image set
// it was created for, and for every image set with overlays loaded while it lives.
class OverlayAnnotationDataController : public QObject, public DataController
{
    Q_OBJECT
public:
    explicit OverlayAnnotationDataController(SharedImageSet* pending = nullptr);
    ~OverlayAnnotationDataController() override;

    // True when `data` is one image set (one image or a series) carrying overlay planes.
    static bool createCompatible(const DataList& data, DataController** out);

    void init() override;
    QWidget* widget() override { return nullptr; }

private:
    void onDataAdded(Data* data);
    void addAnnotation(SharedImageSet* imageSet);

    SharedImageSet* m_pending = nullptr;
};

}  // namespace Dravelin::Dicom
