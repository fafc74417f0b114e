#pragma once

namespace Dravelin::Dicom {

// Common base of the study tree records; consumers find a record's level by dynamic type.
class Base
{
public:
    virtual ~Base() = default;
};

}  // namespace Dravelin::Dicom
