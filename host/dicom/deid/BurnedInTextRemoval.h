#pragma once

#include "host/dicom/deid/PixelCleaner.h"

#include <QString>

#include <cstdint>
#include <map>
#include <string>
#include <memory>
#include <vector>

class DcmDataset;
class DcmItem;

namespace Dravelin::Dicom {

class PixelCleaningRules;

// Removes text burned into the pixels of an image before it is de-identified: the regions of the
// rules that apply to the image, then (with detection on) the text that BurnedInTextDetector
// finds on the frames, shown with the image's window.
//
// Detection looks at images whose Burned In Annotation is "YES" and, in the Likely scope, at
// those without the attribute whose kind often carries text: US, SC, OT, XA, ES, XC, and DX or
// CR secondary captures. A cine loop is looked at on five frames spread over it; when most of
// their boxes recur from frame to frame, the union is blacked out on every frame, otherwise (the
// text moves) every frame is looked at on its own.
//
// Per file the number of boxes and their coordinates are logged, never the text.
// Thread-safe: apply() may run on several threads at once.
class BurnedInTextRemoval
{
public:
    enum class Scope { Marked, Likely };

    struct Outcome
    {
        // The pixels were looked at and cleaned; Burned In Annotation is now "NO".
        bool cleaned = false;
        // The syntax to write the dataset with (EXS_Unknown: its own).
        E_TransferSyntax xfer = EXS_Unknown;
        std::vector<PixelCleaner::Region> regions;
    };

    BurnedInTextRemoval(std::shared_ptr<const PixelCleaningRules> rules, bool detect, Scope scope = Scope::Likely);

    // Regions a user chose for whole series (by Series Instance UID): every image of such a
    // series gets exactly these, instead of the rules and detection. Set before apply().
    void setSeriesRegions(std::map<std::string, std::vector<PixelCleaner::Region>> regions);

    // What apply() would black out, without changing the pixels (the dataset is decoded). False
    // with `error` set when the image cannot be looked at.
    bool propose(DcmDataset& dataset, std::vector<PixelCleaner::Region>& regions, std::string* error) const;

    // A frame as 8-bit grey (`width` bytes a row) with the image's window applied (the dataset
    // must be native). False with `error` set when it cannot be rendered.
    static bool renderFrame(DcmDataset& dataset, long frame, std::vector<uint8_t>& grey, int& width, int& height,
                            std::string* error);

    // `dataset` must have all its values in memory. Never throws; problems are logged naming
    // `fileName`, and the pixels are then left as they were (cleaned false).
    Outcome apply(DcmDataset& dataset, const QString& fileName) const;

    // The boxes detection finds, without changing the dataset (which must be native). False when
    // the detector could not run.
    static bool detect(DcmDataset& dataset, std::vector<PixelCleaner::Region>& regions, std::string* error);

    // Whether detection looks at this image.
    static bool mayHoldText(DcmItem& dataset, Scope scope);

    // Whether apply() would look at an image with this header (Series Instance UID, Burned In
    // Annotation, Modality, Image Type, Manufacturer, Manufacturer Model Name, Rows, Columns): its
    // series has boxes chosen by the user, detection is on and in scope, or a rule applies.
    bool covers(DcmItem& header) const;

    // "frame 2: 10,20 100x16; all frames: ..." for the log.
    static QString describe(const std::vector<PixelCleaner::Region>& regions);

private:
    std::shared_ptr<const PixelCleaningRules> m_rules;
    std::map<std::string, std::vector<PixelCleaner::Region>> m_seriesRegions;
    bool m_detect;
    Scope m_scope;
};

}  // namespace Dravelin::Dicom
