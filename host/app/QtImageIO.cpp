#include "host/app/QtImageIO.h"

namespace Dravelin::QtImageIO {

QImage convertMemToQt(const MemImage& image)
{
    if (image.isNull())
        return {};
    const QImage::Format format = image.channels == 3 ? QImage::Format_RGB888 : QImage::Format_Grayscale8;
    const int bytesPerLine = image.width * image.channels;
    if (static_cast<size_t>(bytesPerLine) * static_cast<size_t>(image.height) > image.pixels.size())
        return {};
    // QImage needs 32-bit aligned rows; copy() detaches from our buffer and pads the rows.
    return QImage(image.pixels.data(), image.width, image.height, bytesPerLine, format).copy();
}

}  // namespace Dravelin::QtImageIO
