#include "host/dicom/dimse/PacsRetriever.h"

#include "host/core/Log.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcelem.h>

#include <algorithm>
#include <tuple>

namespace Dravelin::Dicom {

namespace {

std::tuple<long, std::string> orderKey(DcmDataset& dataset)
{
    Sint32 number = 0;
    long instanceNumber = dataset.findAndGetSint32(DCM_InstanceNumber, number).good() ? number : 0;
    OFString uid;
    dataset.findAndGetOFString(DCM_SOPInstanceUID, uid);
    return {instanceNumber, uid.c_str()};
}

}  // namespace

std::optional<PacsRetriever::Target> PacsRetriever::targetOf(const Filesystem::Url& url)
{
    if (url.scheme() != DicomPacsConfiguration::Scheme)
        return std::nullopt;
    Target target;
    target.studyUid = url.subquery("study").value_or("");
    target.seriesUid = url.subquery("series").value_or("");
    target.sopInstanceUid = url.subquery("instance").value_or("");
    target.sopClassUid = url.subquery("sopClass").value_or("");
    if (target.studyUid.empty())
        return std::nullopt;
    if (target.seriesUid.empty())
        target.level = DicomPacsCommunication::Level::Study;
    else if (target.sopInstanceUid.empty())
        target.level = DicomPacsCommunication::Level::Series;
    return target;
}

Filesystem::Url PacsRetriever::seriesUrlOf(const Filesystem::Url& instanceUrl)
{
    Filesystem::Url url = instanceUrl;
    url.removeSubquery("instance");
    url.removeSubquery("sopClass");
    return url;
}

PacsRetriever::PacsRetriever(DicomPacsCommunication::ErrorHandler errorHandler)
    : m_errorHandler(std::move(errorHandler))
{
}

std::vector<std::shared_ptr<DcmDataset>> PacsRetriever::retrieve(const Filesystem::Url& url,
                                                                 std::vector<std::string>* locations,
                                                                 Progress* progress, bool withPixelData,
                                                                 const ReceivedHook& received)
{
    std::vector<std::shared_ptr<DcmDataset>> datasets;
    const DicomPacsConfiguration config = DicomPacsConfiguration::fromUri(url);
    const std::optional<Target> target = targetOf(url);
    if (!config.isValid() || !target) {
        const Error error(Error::InvalidValue, Error::Warning, "Not a retrievable PACS location: " + url.string());
        if (m_errorHandler)
            m_errorHandler(error);
        else
            DRAVELIN_LOG(3, "DICOM", error.message);
        return datasets;
    }

    DicomPacsCommunication pacs(config);
    if (m_errorHandler)
        pacs.setErrorHandler(m_errorHandler);
    // Progress counts instances, against their total once a C-GET response gives it, and lets
    // the user stop.
    std::atomic<bool> abort{progress && progress->wasCancelled()};
    std::size_t expected = 0;
    pacs.setInstanceCountHandler([&](std::size_t count) {
        if (progress && count != expected && count > 0)
            progress->setRange(static_cast<long long>(count));
        expected = count;
    });
    pacs.retrieve(
        target->level, target->studyUid, target->seriesUid, target->sopInstanceUid,
        [&](std::unique_ptr<DcmDataset> dataset) {
            if (!withPixelData)
                delete dataset->remove(DCM_PixelData);
            else if (received)
                received(*dataset, expected);
            datasets.emplace_back(std::move(dataset));
            if (progress) {
                progress->setValue(static_cast<long long>(datasets.size()));
                if (progress->wasCancelled())
                    abort = true;
            }
        },
        &abort, target->sopClassUid);

    std::vector<std::pair<std::tuple<long, std::string>, std::shared_ptr<DcmDataset>>> keyed;
    keyed.reserve(datasets.size());
    for (auto& dataset : datasets)
        keyed.emplace_back(orderKey(*dataset), std::move(dataset));
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    datasets.clear();
    for (auto& [key, dataset] : keyed) {
        if (locations)
            locations->push_back(config.generateUri(*dataset).string(Filesystem::Url::LoaderEncoded));
        datasets.push_back(std::move(dataset));
    }
    return datasets;
}

}  // namespace Dravelin::Dicom
