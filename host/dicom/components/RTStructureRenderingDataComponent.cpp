#include "host/dicom/components/RTStructureRenderingDataComponent.h"

#include "host/data/Mesh.h"

namespace Dravelin::Dicom {

RTStructureRenderingDataComponent::RTStructureRenderingDataComponent() = default;
RTStructureRenderingDataComponent::~RTStructureRenderingDataComponent() = default;

QString RTStructureRenderingDataComponent::id() const
{
    return QStringLiteral("RTStructureRendering");
}

void RTStructureRenderingDataComponent::addPolyline(std::unique_ptr<Polyline> polyline)
{
    if (polyline)
        m_polylines.push_back(std::move(polyline));
}

void RTStructureRenderingDataComponent::setMesh(std::unique_ptr<Mesh> mesh)
{
    m_mesh = std::move(mesh);
    m_meshRequested = true;
}

}  // namespace Dravelin::Dicom
