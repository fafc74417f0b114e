#pragma once

#include "host/dicom/deid/PixelCleaner.h"

#include <QString>

#include <map>
#include <memory>
#include <vector>

class DcmItem;

namespace Dravelin::Dicom {

// Per-device rectangles of burned-in text, read from a JSON file:
//
//   {"rules": [{"Modality": "US", "Manufacturer": "Acme", "ManufacturerModelName": "Sono 5",
//               "Rows": 480, "Columns": 640,
//               "regions": [{"x": 0, "y": 0, "width": 640, "height": 40},
//                           {"frame": 0, "x": 500, "y": 440, "width": 140, "height": 40}]}]}
//
// A rule applies to an image whose attributes equal every one the rule names (texts compared
// without surrounding spaces and case); a rule names at least one. A region without "frame"
// applies to every frame (frames count from 0). An image gets the regions of every rule that
// applies. Unknown keys are refused, so that a misspelt attribute never makes a rule match more
// images than meant.
class PixelCleaningRules
{
public:
    // Null with `error` set ("rules.json: rule 2: ...") when the file cannot be used.
    static std::shared_ptr<const PixelCleaningRules> load(const QString& file, QString* error);
    static std::shared_ptr<const PixelCleaningRules> parse(const QByteArray& json, QString* error);

    std::vector<PixelCleaner::Region> regionsFor(DcmItem& dataset) const;
    size_t size() const { return m_rules.size(); }

private:
    struct Rule
    {
        std::map<QString, QString> texts;  // attribute keyword -> value
        std::map<QString, int> numbers;
        std::vector<PixelCleaner::Region> regions;
    };
    std::vector<Rule> m_rules;
};

}  // namespace Dravelin::Dicom
