#pragma once

#include "host/data/PixelType.h"

#include <QString>

#include <memory>

namespace Dravelin {
class SharedImageSet;
}  // namespace Dravelin

namespace Dravelin::Test {

// An image set of one zero-filled image of the given size (depth 1: a 2D image), named `name`.
std::unique_ptr<SharedImageSet> imageSet(PixelType type, int width, int height, int depth = 1,
                                         const QString& name = QString());

}  // namespace Dravelin::Test
