#include "plugin/DicomGuiAlgorithmFactory.h"

#include "browser/widgets/ShowDicomTags.h"
#include "editor/DicomEditorAlgorithm.h"

namespace Dravelin {

DicomGuiAlgorithmFactory::DicomGuiAlgorithmFactory() : AlgorithmFactory(QStringLiteral("DICOM"))
{
    registerAlgorithm<ShowDicomTags>(QStringLiteral("ShowDicomTags"), QStringLiteral("Show DICOM Tags"));
    // Without createCompatible the editor is offered only for an empty selection.
    registerAlgorithm<DicomEditorAlgorithm>(QStringLiteral("DicomEditor"), QStringLiteral("Tools;DICOM Editor"));
}

DicomGuiAlgorithmFactory::~DicomGuiAlgorithmFactory() = default;

bool DicomGuiAlgorithmFactory::addAlgorithmFactoryToFront() const
{
    return true;
}

}  // namespace Dravelin
