#include "host/data/SharedImageSet.h"

#include <algorithm>

namespace Dravelin {

SharedImageSet::SharedImageSet() = default;

SharedImageSet::SharedImageSet(std::unique_ptr<SharedImage> image)
{
    add(std::move(image));
}

SharedImageSet::~SharedImageSet() = default;

int SharedImageSet::kind() const
{
    if (m_images.size() > 1)
        return KindImageSeries;
    if (!m_images.empty() && m_images.front()->isVolume())
        return KindVolume;
    return KindImage;
}

std::unique_ptr<Data> SharedImageSet::copy() const
{
    return clone();
}

std::unique_ptr<SharedImageSet> SharedImageSet::clone() const
{
    auto result = std::make_unique<SharedImageSet>();
    copyBaseTo(*result);
    for (const auto& image : m_images)
        result->m_images.push_back(std::make_unique<SharedImage>(*image));
    result->m_selected = m_selected;
    result->m_windowCenter = m_windowCenter;
    result->m_windowWidth = m_windowWidth;
    result->m_note = m_note;
    return result;
}

std::optional<Eigen::AlignedBox3d> SharedImageSet::bounds() const
{
    if (m_images.empty())
        return std::nullopt;
    Eigen::AlignedBox3d box;
    for (const auto& image : m_images)
        box.extend(image->worldBounds());
    return box;
}

SharedImage* SharedImageSet::add(std::unique_ptr<SharedImage> image)
{
    if (!image)
        return nullptr;
    m_images.push_back(std::move(image));
    return m_images.back().get();
}

SharedImage* SharedImageSet::get(int index) const
{
    if (index < 0 || index >= size())
        return nullptr;
    return m_images[static_cast<std::size_t>(index)].get();
}

std::unique_ptr<SharedImage> SharedImageSet::take(int index)
{
    if (index < 0 || index >= size())
        return nullptr;
    std::unique_ptr<SharedImage> image = std::move(m_images[static_cast<std::size_t>(index)]);
    m_images.erase(m_images.begin() + index);
    setSelectedIndex(m_selected);
    return image;
}

void SharedImageSet::setSelectedIndex(int index)
{
    m_selected = std::clamp(index, 0, std::max(0, size() - 1));
}

PixelType SharedImageSet::pixelType() const
{
    return m_images.empty() ? PixelType::UInt8 : m_images.front()->pixelType();
}

void SharedImageSet::setWindow(double center, double width)
{
    m_windowCenter = center;
    m_windowWidth = width > 0.0 ? width : 0.0;
}

}  // namespace Dravelin
