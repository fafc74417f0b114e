#pragma once

#include <QRect>

#include <cstdint>
#include <string>
#include <vector>

namespace Dravelin::Dicom {

// Finds text burned into an 8-bit grey frame with Tesseract OCR.
//
// Tesseract reads text on noise and gradients poorly, so it is shown a cleaned picture: the
// pixels that stand out from their neighbourhood (by more than a few times the frame's own noise,
// brighter or darker) in black on white, everything else white. The word boxes it finds there are
// cut to the standing-out pixels inside them and grown by a margin (a quarter of their height, at
// least 2 pixels) so that antialiased edges and descenders go too. Boxes of neighbouring lines may
// overlap: merging them would black out the space beside the shorter line.
//
// Each thread keeps one Tesseract instance, made at its first call (about a tenth of a second).
// The text read is never returned or logged: it is the identifying data.
class BurnedInTextDetector
{
public:
    // Boxes in frame coordinates, clipped to the frame. Empty when no text was found; false
    // (with `error` set) when Tesseract could not run.
    static bool detect(const uint8_t* pixels, int width, int height, int bytesPerLine, std::vector<QRect>& boxes,
                       std::string* error = nullptr);

    // Boxes that overlap, or stand on one line closer than 1.5 times their height, become one box: the
    // characters between two words read apart (a colon, a letter Tesseract could not place) go too.
    static std::vector<QRect> merged(std::vector<QRect> boxes);

    // The word boxes grown by the blobs of `picture` (standingOut) beside them on their line.
    static std::vector<QRect> withNeighbours(std::vector<QRect> words, const std::vector<uint8_t>& picture, int width,
                                             int height);

    // The pixels of `frame` (`width` x `height`, one byte each) that stand out, black on white.
    static std::vector<uint8_t> standingOut(const uint8_t* pixels, int width, int height, int bytesPerLine);
};

}  // namespace Dravelin::Dicom
