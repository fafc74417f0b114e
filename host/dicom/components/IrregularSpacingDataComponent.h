#pragma once

#include "host/data/DataComponent.h"

namespace Dravelin::Dicom {

// How an image set with unevenly spaced slices was made regular by the reader.
struct IrregularSpacing
{
    double maxDeviationMm = 0;   // of an acquired slice from one even step, first to last slice
    double resampledStepMm = 0;  // the grid's step when resampled, 0 when split
    int part = 0;                // when split: this part (from 1) of `parts`
    int parts = 0;
};

// Marks an image set whose slices were resampled or split because they were unevenly spaced,
// so that tools and reports can tell the user.
class IrregularSpacingDataComponent : public DataComponent
{
public:
    explicit IrregularSpacingDataComponent(const IrregularSpacing& spacing) : m_spacing(spacing) {}

    QString id() const override;
    std::unique_ptr<DataComponent> clone() const override;

    const IrregularSpacing& spacing() const { return m_spacing; }

private:
    IrregularSpacing m_spacing;
};

}  // namespace Dravelin::Dicom
