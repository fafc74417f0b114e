#pragma once

#include "host/dicom/io/PixelVolume.h"

#include <QString>

#include <memory>

namespace Dravelin {
class SharedImage;
class SharedImageSet;
}  // namespace Dravelin

namespace Dravelin::Dicom {

struct LoadedImageSet;

// The image of a decoded volume, taking its samples over without a copy where the voxel type
// exists in the data model (8-bit signed grey widens to 16 bits, 32-bit unsigned becomes signed
// when its values allow, else floating point; colour deeper than 8 bits is reduced to 8 bits).
std::unique_ptr<SharedImage> toSharedImage(PixelVolume&& volume);

// Minimum, maximum and mean of the real values of an image, without copying it.
VolumeStatistics imageStatistics(const SharedImage& image);

// The decoded volume of an image, for writing and comparing.
PixelVolume toPixelVolume(const SharedImage& image);

// An image set with its images, window and DICOM components (tag store, image info, data source
// naming `reader`), the property "filename" and a name.
std::unique_ptr<SharedImageSet> toSharedImageSet(LoadedImageSet&& loaded, const QString& reader);

}  // namespace Dravelin::Dicom
