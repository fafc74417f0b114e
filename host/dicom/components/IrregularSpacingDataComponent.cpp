#include "host/dicom/components/IrregularSpacingDataComponent.h"

namespace Dravelin::Dicom {

QString IrregularSpacingDataComponent::id() const
{
    return QStringLiteral("DicomIrregularSpacing");
}

std::unique_ptr<DataComponent> IrregularSpacingDataComponent::clone() const
{
    return std::make_unique<IrregularSpacingDataComponent>(m_spacing);
}

}  // namespace Dravelin::Dicom
