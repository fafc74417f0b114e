#include "browser/models/SeriesLocation.h"

#include "host/core/Log.h"
#include "host/dicom/dimse/DicomPacsConfiguration.h"
#include "host/dicom/dimse/PacsRetriever.h"
#include "scanning/Image.h"
#include "scanning/Series.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <regex>

namespace Dravelin::SeriesLocation {

using namespace Dicom;

namespace {

std::optional<Filesystem::Url> fileSeriesLocation(const Series& series, bool checkDicomHeader)
{
    std::vector<std::string> paths;
    paths.reserve(series.images.size());
    for (const Image* image : series.images)
        paths.push_back(image->location.localFilePath());
    const QString common = QDir::cleanPath(QFile::decodeName(Filesystem::commonParentDirectory(paths).c_str()));
    Filesystem::Url location = Filesystem::Url::fromLocalFile(common);
    location.appendSubquery("series", series.seriesInstanceUid.toStdString());
    // Any image below the common folder needs a recursive load, not only the first one:
    // otherwise the loader would miss the deeper images.
    const bool nested = std::any_of(paths.begin(), paths.end(), [&common](const std::string& path) {
        return QDir::cleanPath(QFileInfo(QFile::decodeName(path.c_str())).absolutePath()) != common;
    });
    if (nested)
        location.appendSubquery("recursive", "1");
    if (!checkDicomHeader)
        location.appendSubquery("ignoreNonDicom", "0");
    return location;
}

std::optional<Filesystem::Url> webSeriesLocation(const Filesystem::Url& first)
{
    static const std::regex instancePart("\\/studies\\/.+\\/series\\/.+\\/instances\\/(.+)", std::regex::ECMAScript);
    std::smatch match;
    const std::string path = first.path();
    if (!std::regex_search(path, match, instancePart)) {
        Log::log(4, "", "Could not determine series URL from image URL: " + first.string(), __FILE__, __LINE__);
        return std::nullopt;
    }
    std::string text = first.string(Filesystem::Url::LoaderEncoded);
    const std::string instance = "/instances/" + match[1].str();
    for (size_t at = text.find(instance); at != std::string::npos; at = text.find(instance, at))
        text.erase(at, instance.size());
    return Filesystem::Url(text);
}

}  // namespace

std::optional<Filesystem::Url> of(const Series& series, bool checkDicomHeader)
{
    if (series.images.empty())
        return std::nullopt;
    const Filesystem::Url& first = series.images.front()->location;
    const std::string scheme = first.scheme();
    if (series.images.size() == 1) {
        Filesystem::Url location = first;
        if (scheme == "file" && !checkDicomHeader)
            location.appendSubquery("ignoreNonDicom", "0");
        return location;
    }
    if (scheme == "file")
        return fileSeriesLocation(series, checkDicomHeader);
    if (scheme == "http" || scheme == "https")
        return webSeriesLocation(first);
    Filesystem::Url location = first;
    location.setFragment(std::string());
    // Our PACS locations name the instance in the query, not the fragment.
    if (scheme == DicomPacsConfiguration::Scheme)
        location = PacsRetriever::seriesUrlOf(location);
    if (!checkDicomHeader)
        location.appendSubquery("ignoreNonDicom", "0");
    return location;
}

}  // namespace Dravelin::SeriesLocation
