#include "host/core/Url.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

namespace Dravelin::Filesystem {

namespace {

QString qs(const std::string& s)
{
    return QString::fromStdString(s);
}

std::string encodeComponent(const std::string& s)
{
    return QUrl::toPercentEncoding(qs(s)).toStdString();
}

std::string decodeComponent(const QByteArray& s)
{
    return QUrl::fromPercentEncoding(s).toStdString();
}

bool looksLikeLocalPath(const std::string& text)
{
    return !text.empty() && (text[0] == '/' || text[0] == '.' || text.find("://") == std::string::npos);
}

// A local path keeps a byte that is not UTF-8 as the file name codec's U+DC80..U+DCFF, which
// UTF-8 encodes as ED B2/B3 xx. In text such a byte is written as itself ("%E9"), so the text
// reads back to the same file.
QString bytesForEscapes(QString text, bool percentEncoded)
{
    if (percentEncoded) {
        if (!text.contains(QLatin1String("%ED%B")))
            return text;
        static const QRegularExpression escape(QStringLiteral("%ED%B([23])%([89AB][0-9A-F])"));
        QRegularExpressionMatch match;
        int from = 0;
        while ((match = escape.match(text, from)).hasMatch()) {
            const int byte = ((match.captured(1).toInt() & 3) << 6) | (match.captured(2).toInt(nullptr, 16) & 0x3F);
            text.replace(match.capturedStart(), match.capturedLength(),
                         QLatin1Char('%') + QString::number(byte, 16).toUpper());
            from = match.capturedStart() + 3;
        }
        return text;
    }
    const auto kept = [](QChar c) { return c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF; };
    if (std::none_of(text.begin(), text.end(), kept))
        return text;
    QString result;
    for (const QChar c : text) {
        if (kept(c))
            result += QLatin1Char('%') + QString::number(c.unicode() - 0xDC00, 16).toUpper();
        else
            result += c;
    }
    return result;
}

// The file a "file:" URL names, with bytes that are not UTF-8 kept (QUrl would make them U+FFFD).
QUrl withFileNameBytes(const QUrl& url)
{
    if (!url.isLocalFile())
        return url;
    const QString path = QFile::decodeName(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
    if (std::none_of(path.begin(), path.end(), [](QChar c) { return c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF; }))
        return url;
    QUrl kept(url);
    kept.setPath(path, QUrl::DecodedMode);
    return kept;
}

}  // namespace

Url::Url(const std::string& text)
{
    if (text.empty())
        return;
    const QUrl parsed(qs(text), QUrl::TolerantMode);
    // "C:"-like or scheme-less text is a path; anything with "scheme:" is a URL.
    if (parsed.isValid() && !parsed.scheme().isEmpty() && parsed.scheme().size() > 1)
        m_url = withFileNameBytes(parsed);
    else if (looksLikeLocalPath(text))
        m_url = QUrl::fromLocalFile(QFileInfo(QFile::decodeName(text.c_str())).absoluteFilePath());
    else
        m_url = parsed;
}

Url::Url(const QUrl& url) : m_url(url) {}

Url Url::fromLocalFile(const std::string& path)
{
    return fromLocalFile(QFile::decodeName(path.c_str()));
}

Url Url::fromLocalFile(const QString& path)
{
    return Url(QUrl::fromLocalFile(path));
}

Url Url::localFolder(const QString& path)
{
    const QUrl url = QUrl::fromLocalFile(path);
    if (!path.startsWith('/') || path.endsWith('/') || url.toLocalFile() != path)
        return {};
    return Url(url);
}

Url Url::fromLocalFile(const Url& folder, const QString& name)
{
    // `folder` comes from localFolder(): a local path, told by its scheme alone (this runs for
    // every file of a folder scan).
    if (name.isEmpty() || name.contains('/') || name == "." || name == ".." || !folder.m_fileName.isNull() ||
        !folder.m_url.isLocalFile())
        return fromLocalFile(folder.whole().toLocalFile() + '/' + name);
    Url url;
    url.m_url = folder.m_url;
    url.m_fileName = name;
    return url;
}

QUrl Url::whole() const
{
    return m_fileName.isNull() ? m_url : QUrl::fromLocalFile(m_url.toLocalFile() + '/' + m_fileName);
}

void Url::detachFolder()
{
    if (m_fileName.isNull())
        return;
    m_url = whole();
    m_fileName = QString();
}

namespace {

// Characters a file name keeps as they are in every form of a URL.
bool isPlainName(const QString& name)
{
    return std::all_of(name.begin(), name.end(), [](QChar c) {
        const ushort u = c.unicode();
        return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '.' || u == '-' ||
               u == '_' || u == '~';
    });
}

}  // namespace

bool Url::isValid() const
{
    if (!m_fileName.isNull())
        return true;  // an absolute local path
    return m_url.isValid() && !m_url.isEmpty();
}

bool Url::isEmpty() const
{
    return m_fileName.isNull() && m_url.isEmpty();
}

bool Url::isLocalFile() const
{
    return !m_fileName.isNull() || m_url.isLocalFile();
}

std::string Url::scheme() const
{
    return m_url.scheme().toStdString();
}

std::string Url::userInfo() const
{
    // QUrl refuses FullyDecoded for the whole user info (a decoded ":" would be ambiguous).
    if (whole().userName().isEmpty() && whole().password().isEmpty())
        return {};
    std::string info = userName();
    if (!whole().password().isNull())
        info += ":" + password();
    return info;
}

std::string Url::userName() const
{
    return whole().userName(QUrl::FullyDecoded).toStdString();
}

std::string Url::password() const
{
    return whole().password(QUrl::FullyDecoded).toStdString();
}

std::string Url::host() const
{
    return whole().host().toStdString();
}

int Url::port(int defaultPort) const
{
    return whole().port(defaultPort);
}

std::string Url::path() const
{
    if (isLocalFile())
        return localFilePath();
    return whole().path(QUrl::FullyDecoded).toStdString();
}

std::string Url::query() const
{
    return whole().query(QUrl::FullyEncoded).toStdString();
}

std::string Url::fragment() const
{
    return whole().fragment(QUrl::FullyDecoded).toStdString();
}

std::string Url::localFilePath() const
{
    if (!m_fileName.isNull())
        return QFile::encodeName(m_url.toLocalFile() + '/' + m_fileName).toStdString();
    return m_url.isLocalFile() ? QFile::encodeName(m_url.toLocalFile()).toStdString() : std::string();
}

void Url::setScheme(const std::string& scheme)
{
    detachFolder();
    m_url.setScheme(qs(scheme));
}

void Url::setUserInfo(const std::string& userInfo)
{
    detachFolder();
    // QUrl refuses decoded user info as a whole; name and password take it one by one.
    if (userInfo.empty()) {
        m_url.setUserInfo(QString());
        return;
    }
    const QString text = qs(userInfo);
    const int colon = text.indexOf(':');
    m_url.setUserName(colon < 0 ? text : text.left(colon), QUrl::DecodedMode);
    m_url.setPassword(colon < 0 ? QString() : text.mid(colon + 1), QUrl::DecodedMode);
}

void Url::setHost(const std::string& host)
{
    detachFolder();
    m_url.setHost(qs(host));
}

void Url::setPort(int port)
{
    detachFolder();
    m_url.setPort(port);
}

void Url::setPath(const std::string& path)
{
    detachFolder();
    m_url.setPath(qs(path), QUrl::DecodedMode);
}

void Url::setQuery(const std::string& encodedQuery)
{
    detachFolder();
    // An empty text removes the query (QUrl would keep a bare "?"). Characters a query may not
    // hold unencoded (a person name's "^") are encoded rather than making the URL invalid.
    m_url.setQuery(encodedQuery.empty() ? QString() : qs(encodedQuery), QUrl::TolerantMode);
}

void Url::setFragment(const std::string& fragment)
{
    detachFolder();
    m_url.setFragment(fragment.empty() ? QString() : qs(fragment), QUrl::DecodedMode);
}

void Url::appendSubquery(const std::string& key, const std::string& value)
{
    detachFolder();
    QString query = m_url.query(QUrl::FullyEncoded);
    if (!query.isEmpty())
        query += '&';
    query += qs(encodeComponent(key) + "=" + encodeComponent(value));
    m_url.setQuery(query, QUrl::StrictMode);
}

std::vector<std::pair<std::string, std::string>> Url::subqueries() const
{
    std::vector<std::pair<std::string, std::string>> result;
    const QByteArray query = whole().query(QUrl::FullyEncoded).toUtf8();
    if (query.isEmpty())
        return result;
    for (const QByteArray& part : query.split('&')) {
        if (part.isEmpty())
            continue;
        const int eq = part.indexOf('=');
        if (eq < 0)
            result.emplace_back(decodeComponent(part), std::string());
        else
            result.emplace_back(decodeComponent(part.left(eq)), decodeComponent(part.mid(eq + 1)));
    }
    return result;
}

std::optional<std::string> Url::subquery(const std::string& key) const
{
    for (auto& [k, v] : subqueries())
        if (k == key)
            return v;
    return std::nullopt;
}

bool Url::hasSubquery(const std::string& key) const
{
    return subquery(key).has_value();
}

void Url::removeSubquery(const std::string& key)
{
    detachFolder();
    QString query;
    for (auto& [k, v] : subqueries()) {
        if (k == key)
            continue;
        if (!query.isEmpty())
            query += '&';
        query += qs(encodeComponent(k) + "=" + encodeComponent(v));
    }
    if (query.isEmpty())
        m_url.setQuery(QString());
    else
        m_url.setQuery(query, QUrl::StrictMode);
}

std::string Url::string(unsigned flags) const
{
    QUrl::FormattingOptions options = QUrl::None;
    if (flags & RemoveUserInfo)
        options |= QUrl::RemoveUserInfo;
    if (flags & RemoveQuery)
        options |= QUrl::RemoveQuery;
    if (flags & RemoveFragment)
        options |= QUrl::RemoveFragment;
    options |= (flags & LoaderEncoded) ? QUrl::FullyEncoded : QUrl::PrettyDecoded;
    // A plain file name reads the same in every form: the folder's text is written once.
    const bool encoded = flags & LoaderEncoded;
    if (!m_fileName.isNull() && isPlainName(m_fileName)) {
        // The files of one folder share its QUrl (the same data): its text is made once per
        // folder and thread, not once per file of a listing of thousands.
        thread_local struct
        {
            bool valid = false;
            QUrl folder;  // held, so that its data cannot change or be reused while cached
            unsigned flags = 0;
            std::string text;
        } last;
        if (!last.valid || last.flags != flags || const_cast<QUrl&>(m_url).data_ptr() != last.folder.data_ptr()) {
            last.folder = m_url;
            last.flags = flags;
            last.text = bytesForEscapes(m_url.toString(options), encoded).toStdString();
            last.valid = true;
        }
        std::string result;
        result.reserve(last.text.size() + 1 + std::size_t(m_fileName.size()));
        result += last.text;
        result += '/';
        for (const QChar c : m_fileName)  // plain ASCII
            result += char(c.unicode());
        return result;
    }
    return bytesForEscapes(whole().toString(options), encoded).toStdString();
}

std::string commonParentDirectory(const std::vector<std::string>& paths)
{
    if (paths.empty())
        return {};
    QStringList common;
    bool first = true;
    for (const std::string& p : paths) {
        const QString clean = QDir::cleanPath(QFile::decodeName(p.c_str()));
        QStringList parts = clean.split('/');
        parts.removeLast();  // the file (or last folder) itself
        if (first) {
            common = parts;
            first = false;
            continue;
        }
        int n = 0;
        while (n < common.size() && n < parts.size() && common[n] == parts[n])
            ++n;
        common = common.mid(0, n);
    }
    if (common.isEmpty())
        return {};
    if (common.size() == 1 && common[0].isEmpty())
        return "/";
    return QFile::encodeName(common.join('/')).toStdString();
}

}  // namespace Dravelin::Filesystem
