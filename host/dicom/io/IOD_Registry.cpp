#include "host/dicom/io/IOD_Registry.h"

namespace Dravelin::Dicom {

IOD_Registry::IOD_Registry()
{
    addExtension(std::make_unique<ReferencedImagesExtension>());
    addExtension(std::make_unique<VoiWindowExtension>());
}

IOD_Registry::~IOD_Registry() = default;

std::vector<Extension*> IOD_Registry::extensions() const
{
    std::vector<Extension*> result;
    for (const auto& e : m_extensions)
        result.push_back(e.get());
    return result;
}

Extension* IOD_Registry::extension(const std::string& name) const
{
    for (const auto& e : m_extensions)
        if (e->name() == name)
            return e.get();
    return nullptr;
}

void IOD_Registry::addExtension(std::unique_ptr<Extension> extension)
{
    if (extension)
        m_extensions.push_back(std::move(extension));
}

}  // namespace Dravelin::Dicom
