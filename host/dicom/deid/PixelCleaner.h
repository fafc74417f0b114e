#pragma once

#include <QRect>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <string>
#include <vector>

class DcmDataset;

namespace Dravelin::Dicom {

// Blacks out rectangles of an image's pixels: every sample of each pixel inside gets the darkest
// value of the image (the smallest stored value for MONOCHROME2, the largest for MONOCHROME1,
// black for RGB and YBR_FULL).
//
// Compressed pixel data is decoded first (makeNative; JPEG 2000 colour becomes RGB) and written
// afterwards with the syntax of writeSyntax: a lossless source keeps its own when it can be
// encoded again (lossless JPEG 2000 too), a lossy one is written uncompressed, as compressing it
// lossily again would lose quality twice. The encoded data of the source never survives the
// change. 8- and 16-bit samples, one or three per pixel, any planar configuration and any number
// of frames; palette colour, subsampled YBR and 1- and 32-bit data are refused.
class PixelCleaner
{
public:
    struct Region
    {
        int frame = -1;  // -1: every frame
        QRect rect;      // pixel coordinates; the part outside the image is ignored
    };

    // Decodes the pixel data when it is compressed. False with `error` set when it cannot.
    static bool makeNative(DcmDataset& dataset, std::string* error);

    // Blacks out the regions (the dataset must be native). False with `error` set when the image
    // is of a kind this class does not change; the pixels are then as they were.
    static bool clean(DcmDataset& dataset, const std::vector<Region>& regions, std::string* error);

    // The syntax to write the cleaned dataset with, given its source's: EXS_Unknown keeps the
    // dataset's own. May encode the pixel data again; `note` says when the syntax changes.
    static E_TransferSyntax writeSyntax(DcmDataset& dataset, E_TransferSyntax source, std::string* note);
};

}  // namespace Dravelin::Dicom
