#pragma once

#include "scanning/Base.h"

namespace Dravelin::Dicom {

class Study;

// Stands for the series of a study that are still to be queried from a PACS.
// A placeholder whose study is null counts as resolved.
class PacsSeriesProxy : public Base
{
public:
    explicit PacsSeriesProxy(Study* study) : study(study) {}

    Study* study = nullptr;  // not owned
};

}  // namespace Dravelin::Dicom
