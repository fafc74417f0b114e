#pragma once

#include "host/plugin/DravelinLibPlugin.h"

namespace Dravelin {

// The DICOM front end as the host sees it: on init() it adds the DICOM settings page, the
// controllers of the DICOM algorithms with the RT and overlay data controllers, and the tag
// viewer and editor algorithms.
class DicomGuiPlugin : public DravelinLibPlugin
{
public:
    ~DicomGuiPlugin() override;

    QString author() const override;
    QString description() const override;
    // The host's DICOM plug-in supplies the readers, the writer and the DICOM library.
    QStringList dependencies() const override;
    int init() override;

    static const char* id();
};

}  // namespace Dravelin
