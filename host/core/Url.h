#pragma once

#include <QUrl>

#include <optional>
#include <string>
#include <vector>

namespace Dravelin::Filesystem {

// A location: a local file or folder ("file"), a DICOMweb resource ("http"/"https") or an
// instance on a PACS ("pacs"). Parsing and percent encoding follow RFC 3986.
//
// Sub-queries are key=value pairs of the query part ("series", "recursive", "ignoreNonDicom"
// for folder locations). Keys and values are percent-encoded when written, so a value may
// hold any character, "&", "=", "#" included.
class Url
{
public:
    enum FormattingOption : unsigned {
        Default = 0x00,
        RemoveUserInfo = 0x01,  // drop "user:password@"
        RemoveQuery = 0x02,
        RemoveFragment = 0x04,
        // The text the host's loader reads back: every character that is not allowed
        // unencoded in its component is percent-encoded ("#", "%", spaces, non-ASCII, in a
        // local path too), so the result never contains "##" and `Url(text)` restores
        // exactly this URL. Used for location strings, where "##" separates the URLs.
        LoaderEncoded = 0x80,
    };

    Url() = default;
    // Parses `text`. A text without a scheme that looks like an absolute path is taken as
    // a local file path.
    explicit Url(const std::string& text);
    explicit Url(const QUrl& url);

    static Url fromLocalFile(const std::string& path);  // file system bytes
    static Url fromLocalFile(const QString& path);
    // A folder for the next form, or an empty URL when `path` (absolute) does not read back
    // unchanged from its URL.
    static Url localFolder(const QString& path);
    // The file `name` in `folder` (made by localFolder): the same URL as fromLocalFile(the
    // folder's path + "/" + name), but every file of the folder shares the folder's text. A
    // scan keeps one URL per image; a URL of its own costs more than the rest of the image.
    static Url fromLocalFile(const Url& folder, const QString& name);

    bool isValid() const;
    bool isEmpty() const;
    bool isLocalFile() const;

    std::string scheme() const;
    std::string userInfo() const;  // decoded "user" or "user:password"
    std::string userName() const;
    std::string password() const;
    std::string host() const;
    int port(int defaultPort = -1) const;
    std::string path() const;      // decoded; file system bytes for a local file
    std::string query() const;     // encoded query text, without "?"
    std::string fragment() const;  // decoded
    // File system bytes (QFile::encodeName), empty unless a local file.
    std::string localFilePath() const;

    void setScheme(const std::string& scheme);
    void setUserInfo(const std::string& userInfo);
    void setHost(const std::string& host);
    void setPort(int port);
    void setPath(const std::string& path);
    void setQuery(const std::string& encodedQuery);
    void setFragment(const std::string& fragment);

    // Appends key=value to the query (both percent-encoded); existing keys are kept.
    void appendSubquery(const std::string& key, const std::string& value);
    // The decoded value of the first sub-query `key`, if present.
    std::optional<std::string> subquery(const std::string& key) const;
    bool hasSubquery(const std::string& key) const;
    void removeSubquery(const std::string& key);
    std::vector<std::pair<std::string, std::string>> subqueries() const;

    // Human-readable text (decoded where unambiguous) unless LoaderEncoded is given.
    std::string string(unsigned flags = Default) const;

    QUrl qUrl() const { return whole(); }

    bool operator==(const Url& other) const { return whole() == other.whole(); }
    bool operator!=(const Url& other) const { return !(*this == other); }

private:
    // The URL itself; a file made by fromLocalFile(folder, name) builds it on demand.
    QUrl whole() const;
    // Before a change: the URL itself takes the place of folder and file name.
    void detachFolder();

    QUrl m_url;          // the URL, or the folder of m_fileName
    QString m_fileName;  // null unless made by fromLocalFile(folder, name)
};

// The deepest folder that contains all given paths (files or folders); empty when they
// share none (e.g. an empty list). Paths are compared component by component.
std::string commonParentDirectory(const std::vector<std::string>& paths);

}  // namespace Dravelin::Filesystem
