#pragma once

#include "host/app/Algorithm.h"
#include "host/app/AlgorithmController.h"

#include <QWidget>

#include <memory>
#include <vector>

class DcmDataset;
class QComboBox;

namespace Dravelin {

class SharedImageSet;

namespace Dicom {
class TagsWidget;
}

// Collects the DICOM datasets behind an image set read from DICOM, one per frame: from the
// tag store the reader attached, or again from the file the set was read from.
class ShowDicomTags : public Algorithm
{
public:
    explicit ShowDicomTags(SharedImageSet* imageSet);
    ~ShowDicomTags() override;

    // Accepts exactly one image set with a "filename" that carries a tag store or came from a
    // DICOM reader; with `algorithm`, creates the algorithm for it.
    static bool createCompatible(const DataList& data, Algorithm** algorithm);

    void compute() override;
    void loadFromTagStore();
    void loadFromFile();
    const std::vector<std::shared_ptr<DcmDataset>>& datasets() const { return m_datasets; }
    SharedImageSet* imageSet() const { return m_imageSet; }

private:
    SharedImageSet* m_imageSet;
    std::vector<std::shared_ptr<DcmDataset>> m_datasets;
};

// The panel that shows the datasets of ShowDicomTags read-only, frame by frame, with a choice
// of source when the image set has both a tag store and an origin file.
class ShowDicomTagsController : public QWidget, public AlgorithmController
{
    Q_OBJECT

public:
    explicit ShowDicomTagsController(ShowDicomTags* algorithm);
    ~ShowDicomTagsController() override;

    void init() override;
    QWidget* widget() override { return this; }

    Dicom::TagsWidget* tagsWidget() const { return m_tags; }
    // Null unless both sources exist.
    QComboBox* sourceComboBox() const { return m_source; }

private:
    void onSourceChanged(int index);
    void openRawBuffer(const QString& path);

    ShowDicomTags* m_algorithm;
    Dicom::TagsWidget* m_tags = nullptr;
    QComboBox* m_source = nullptr;
};

}  // namespace Dravelin
