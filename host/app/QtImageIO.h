#pragma once

#include "host/data/MemImage.h"

#include <QImage>

namespace Dravelin::QtImageIO {

// Grey images become Format_Grayscale8, RGB images Format_RGB888; the pixels are copied.
// A null MemImage gives a null QImage.
QImage convertMemToQt(const MemImage& image);

}  // namespace Dravelin::QtImageIO
