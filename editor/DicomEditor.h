#pragma once

#include "browser/widgets/DicomBrowser.h"
#include "host/app/AlgorithmController.h"
#include "host/dicom/deid/DeidentificationProfiles.h"
#include "host/dicom/deid/PixelCleaner.h"

#include <map>
#include <string>

#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QTabWidget;

namespace Dravelin {

class DicomEditorAlgorithm;
class OverrideConfidentialityDialog;
class ProgressWidget;

namespace Dicom {
class BurnedInTextRemoval;
class DatasetCache;
class Series;
}  // namespace Dicom

// The window of the DICOM editor: the browser (input folder or DICOMweb server, the series to
// process), an output folder, "Keep private tags" and the confidentiality profile, edited in
// the OverrideConfidentialityDialog behind the configuration button. "Anonymize" writes a
// de-identified copy of every file of the checked series into the output folder, at the path it
// has relative to the input folder, through DicomEditorConversion (the engine of the
// `deidentify` command): files appear whole or not at all, and the input stays untouched unless
// the user agreed to write into the input folder itself.
//
// "Clean burned-in text" removes text from the pixels as `deidentify --clean-pixels` does (OCR,
// a region file, or both); its preview shows the current series' first image with the boxes,
// which the user adjusts for that series. Without it, the files whose pixels show burned-in
// text are listed before converting, to be written (with Patient Identity Removed "NO") or left
// out.
//
// The conversion runs on worker threads while the window stays responsive; its progress task
// can be cancelled (it stops after the files in hand).
class DicomEditor : public DicomBrowser, public AlgorithmController
{
    Q_OBJECT

public:
    explicit DicomEditor(DicomEditorAlgorithm* algorithm, QWidget* parent = nullptr);
    ~DicomEditor() override;

    // Shows the window over the application's main window.
    void init() override;
    std::vector<int> supportedLocations() const override;
    int preferredLocation() const override;

    OverrideConfidentialityDialog* confidentialityDialog() const { return m_profileDialog.get(); }
    // The action table the conversion applies: the algorithm's profile parameters, each named
    // like a tag; of two parameters for one tag the later wins.
    Dicom::DeidentificationActionTable actionTable() const;
    // True while files are being converted.
    bool isConverting() const { return m_converting; }
    // The removal of burned-in text the window's choices ask for, with the boxes the user set
    // per series; null when it is off or (with `error` set) when the region file is unusable.
    std::shared_ptr<Dicom::BurnedInTextRemoval> pixelCleaning(QString* error) const;

public Q_SLOTS:
    // Asks what the folders need and converts; closes only when every file was written.
    void accept() override;
    // Refused while converting.
    void reject() override;

private:
    // Copies the dialog's profile into the algorithm, the label and the remembered settings.
    void applyProfile();
    void chooseOutputDirectory();
    // The checked series, else the series rows selected in the tree.
    std::vector<const Dicom::Series*> chosenSeries() const;
    // Lists the chosen files with burned-in annotation and asks whether to write them or leave
    // them out; false when the user cancelled. True at once when there are none.
    // `cleaning`: the files it covers are not asked about.
    bool askAboutBurnedIn(const Dicom::BurnedInTextRemoval* cleaning);
    // Converts the files of the checked series; false when some could not be written.
    // `resume`: finish the unfinished run whose journal the output folder holds.
    bool convert(const QString& input, const QString& output, bool resume);
    void setConverting(bool converting);
    // Opens the preview of burned-in text for the current series.
    void previewBurnedIn();

    DicomEditorAlgorithm* m_algorithm;
    QLineEdit* m_outputDir = nullptr;
    QCheckBox* m_keepPrivateTags = nullptr;
    QLabel* m_profileLabel = nullptr;
    std::shared_ptr<Dicom::DatasetCache> m_cache;
    std::unique_ptr<OverrideConfidentialityDialog> m_profileDialog;
    QTabWidget* m_outputTabs = nullptr;
    ProgressWidget* m_progress = nullptr;  // shows the conversion when the host gives no reporter
    bool m_converting = false;
    bool m_skipBurnedIn = false;  // the answer of askAboutBurnedIn
    QString m_outcome;            // what the last conversion wrote and where, for the user
    QComboBox* m_cleanPixels = nullptr;
    QLineEdit* m_regionFile = nullptr;
    std::map<std::string, std::vector<Dicom::PixelCleaner::Region>> m_seriesRegions;  // set in the preview
};

}  // namespace Dravelin
