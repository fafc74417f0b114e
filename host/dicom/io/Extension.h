#pragma once

#include <string>
#include <utility>
#include <vector>

class DcmDataset;

namespace Dravelin {
class SharedImageSet;
}

namespace Dravelin::Dicom {

// What an extension may use while it completes a dataset about to be written.
struct WriteContext
{
    const SharedImageSet* imageSet = nullptr;
    int image = 0;  // index of the image within the set
    // (SOP Class UID, SOP Instance UID) of the images the written data derives from.
    std::vector<std::pair<std::string, std::string>> referencedInstances;
};

// An optional module of the written datasets, chosen by the user in the writer's dialog.
class Extension
{
public:
    explicit Extension(std::string name, bool enabled = true);
    virtual ~Extension();
    Extension(const Extension&) = delete;
    Extension& operator=(const Extension&) = delete;

    const std::string& name() const { return m_name; }
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled) { m_enabled = enabled; }
    virtual bool showInWriterUI() const { return true; }

    // Adds the module's attributes to one dataset (called only when enabled).
    virtual void apply(DcmDataset& dataset, const WriteContext& context) const = 0;

private:
    std::string m_name;
    bool m_enabled;
};

// Source Image Sequence and Referenced Image Sequence naming the referenced images and files.
class ReferencedImagesExtension : public Extension
{
public:
    ReferencedImagesExtension();
    void apply(DcmDataset& dataset, const WriteContext& context) const override;
};

// Window Center and Width of the image set's display window.
class VoiWindowExtension : public Extension
{
public:
    VoiWindowExtension();
    void apply(DcmDataset& dataset, const WriteContext& context) const override;
};

}  // namespace Dravelin::Dicom
