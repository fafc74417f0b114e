#pragma once

#include "host/dicom/io/Extension.h"

#include <memory>
#include <string>
#include <vector>

namespace Dravelin::Dicom {

// The optional modules the DICOM writer knows, in the order the writer's dialog lists them.
class IOD_Registry
{
public:
    // With the writer's own extensions: "Referenced Images" and "VOI Window".
    IOD_Registry();
    ~IOD_Registry();

    std::vector<Extension*> extensions() const;
    Extension* extension(const std::string& name) const;
    void addExtension(std::unique_ptr<Extension> extension);

private:
    std::vector<std::unique_ptr<Extension>> m_extensions;
};

}  // namespace Dravelin::Dicom
