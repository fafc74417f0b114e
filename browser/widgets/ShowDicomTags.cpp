#include "browser/widgets/ShowDicomTags.h"

#include "browser/widgets/TagsWidget.h"
#include "host/app/ApplicationController.h"
#include "host/app/DefaultControllerDecorator.h"
#include "host/app/RawImageIoAlgorithm.h"
#include "host/core/Log.h"
#include "host/core/Url.h"
#include "host/data/DataSourceComponent.h"
#include "host/data/SharedImageSet.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/components/TagStoreDataComponent.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace Dravelin {

namespace {

QString filenameOf(const SharedImageSet* set)
{
    const Properties* p = set ? set->properties() : nullptr;
    return p ? p->param(QStringLiteral("filename")).toString() : QString();
}

}  // namespace

ShowDicomTags::ShowDicomTags(SharedImageSet* imageSet) : m_imageSet(imageSet) {}

ShowDicomTags::~ShowDicomTags() = default;

bool ShowDicomTags::createCompatible(const DataList& data, Algorithm** algorithm)
{
    if (data.size() != 1)
        return false;
    SharedImageSet* set = data.getImage(0, 0);
    if (!set || filenameOf(set).isEmpty() || set->components().empty())
        return false;
    bool fromDicom = set->hasComponent<Dicom::TagStoreDataComponent>();
    if (!fromDicom)
        if (const auto* source = set->getComponent<DataSourceComponent>())
            fromDicom = source->allReadersContain(QStringLiteral("DICOM"));
    if (!fromDicom)
        return false;
    if (algorithm)
        *algorithm = new ShowDicomTags(set);
    return true;
}

void ShowDicomTags::compute()
{
    if (m_imageSet && m_imageSet->hasComponent<Dicom::TagStoreDataComponent>())
        loadFromTagStore();
    else
        loadFromFile();
    setStatus(Success);
}

void ShowDicomTags::loadFromTagStore()
{
    if (const auto* store = m_imageSet ? m_imageSet->getComponent<Dicom::TagStoreDataComponent>() : nullptr)
        m_datasets = store->extractDatasets();
}

void ShowDicomTags::loadFromFile()
{
    if (!m_imageSet || !m_imageSet->properties()) {
        DRAVELIN_LOG(4, "DICOM", "SharedImageSet is missing properties");
        return;
    }
    const QString filename = filenameOf(m_imageSet);
    if (filename.isEmpty()) {
        DRAVELIN_LOG(4, "DICOM", "SharedImageSet is missing filename property");
        return;
    }
    Filesystem::Url location(filename.toStdString());
    if (!location.isValid() || location.scheme().empty())
        location = Filesystem::Url::fromLocalFile(filename);
    m_datasets.clear();
    Dicom::DatasetCache cache(2048);
    m_datasets = cache.load(location, nullptr, progress(), true);
    if (const std::optional<std::string> series = location.subquery("series")) {
        m_datasets.erase(std::remove_if(m_datasets.begin(), m_datasets.end(),
                                        [&](const std::shared_ptr<DcmDataset>& dataset) {
                                            OFString uid;
                                            if (dataset)
                                                dataset->findAndGetOFString(DCM_SeriesInstanceUID, uid);
                                            return !dataset || uid.c_str() != *series;
                                        }),
                         m_datasets.end());
    }
    if (m_datasets.empty())
        DRAVELIN_LOG(4, "DICOM",
                     QStringLiteral("The filename property (%1) of the SharedImageSet does not seem to correspond "
                                    "to a valid file")
                         .arg(filename));
}

ShowDicomTagsController::ShowDicomTagsController(ShowDicomTags* algorithm)
    : AlgorithmController(algorithm), m_algorithm(algorithm)
{
}

ShowDicomTagsController::~ShowDicomTagsController() = default;

void ShowDicomTagsController::init()
{
    if (auto* frame = dynamic_cast<DefaultControllerDecorator*>(decorator()))
        frame->setResizable(true);
    if (m_algorithm->datasets().empty())
        m_algorithm->compute();

    auto* layout = new QVBoxLayout(this);
    SharedImageSet* set = m_algorithm->imageSet();
    if (!filenameOf(set).isEmpty() && set->hasComponent<Dicom::TagStoreDataComponent>()) {
        auto* row = new QHBoxLayout;
        row->addWidget(new QLabel(tr("Source:"), this));
        m_source = new QComboBox(this);
        m_source->addItem(tr("Data Component"));
        m_source->addItem(tr("Origin File"));
        row->addWidget(m_source);
        row->addStretch();
        layout->addLayout(row);
        connect(m_source, qOverload<int>(&QComboBox::currentIndexChanged), this,
                &ShowDicomTagsController::onSourceChanged);
    }
    m_tags = new Dicom::TagsWidget(this);
    m_tags->setDatasets(m_algorithm->datasets());
    m_tags->setEditable(false);
    layout->addWidget(m_tags);
    connect(m_tags, &Dicom::TagsWidget::savedRawBuffer, this, &ShowDicomTagsController::openRawBuffer);
}

void ShowDicomTagsController::onSourceChanged(int index)
{
    const int frame = m_tags->currentFrame();
    if (index == 0)
        m_algorithm->loadFromTagStore();
    else
        m_algorithm->loadFromFile();
    m_tags->setDatasets(m_algorithm->datasets());
    m_tags->setCurrentFrame(frame);
}

void ShowDicomTagsController::openRawBuffer(const QString& path)
{
    auto reader = std::make_unique<RawImageIoAlgorithm>(nullptr, IoAlgorithm::Read);
    reader->setLocation(path);
    if (ApplicationController* app = applicationController())
        app->runAlgorithm(std::move(reader));
    else
        DRAVELIN_LOG(3, "DICOM", "No application to open the raw buffer " + path.toStdString());
}

}  // namespace Dravelin

#include "moc_ShowDicomTags.cpp"
