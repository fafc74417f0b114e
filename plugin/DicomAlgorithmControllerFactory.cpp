#include "plugin/DicomAlgorithmControllerFactory.h"

#include "browser/widgets/ShowDicomTags.h"
#include "editor/DicomEditor.h"
#include "editor/DicomEditorAlgorithm.h"
#include "host/algorithms/RTStructureToLabelMap.h"
#include "host/dicom/io/DicomIoAlgorithm.h"
#include "plugin/DicomIoController.h"
#include "rt/OverlayAnnotationDataController.h"
#include "rt/RTStructureDataController.h"
#include "rt/RTStructureToLabelMapController.h"

namespace Dravelin {

DicomAlgorithmControllerFactory::DicomAlgorithmControllerFactory() : AlgorithmControllerFactory(QStringLiteral("DICOM"))
{
    registerDataController<Dicom::OverlayAnnotationDataController>(
        QStringLiteral("DICOM;OverlayAnnotationDataController"));
    registerDataController<Dicom::RTStructureDataController>(QStringLiteral("DICOM;RTStructureDataController"));
}

DicomAlgorithmControllerFactory::~DicomAlgorithmControllerFactory() = default;

AlgorithmController* DicomAlgorithmControllerFactory::create(Algorithm* algorithm) const
{
    if (!algorithm)
        return nullptr;
    if (auto* io = dynamic_cast<DicomIoAlgorithm*>(algorithm))
        return new DicomIoController(io);
    if (auto* tags = dynamic_cast<ShowDicomTags*>(algorithm))
        return new ShowDicomTagsController(tags);
    if (auto* editor = dynamic_cast<DicomEditorAlgorithm*>(algorithm))
        return new DicomEditor(editor, nullptr);
    if (auto* conversion = dynamic_cast<RTStructureToLabelMap*>(algorithm))
        return new RTStructureToLabelMapController(conversion);
    return nullptr;
}

}  // namespace Dravelin
