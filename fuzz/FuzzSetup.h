#pragma once

#include "host/core/Log.h"
#include "host/dicom/Utils.h"

// Quiet logs and DCMTK's console output: a fuzz run parses millions of broken inputs.
inline bool dravelinFuzzSetup()
{
    static const bool done = [] {
        Dravelin::Log::setThreshold(5);
        Dravelin::Dicom::Utils::silenceDcmtkLogging();
        return true;
    }();
    return done;
}
