#include "app/cli/CommandLine.h"

#include <QCoreApplication>
#include <QTextStream>

#include <algorithm>
#include <vector>

namespace Dravelin::Cli {

namespace {

const QString kTool = QStringLiteral("dravelin-dicom");

QString dashed(const QString& name)
{
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

// Edits (insert, delete, replace, swap of neighbours) that turn `a` into `b`.
int editDistance(const QString& a, const QString& b)
{
    const int n = a.size(), m = b.size();
    std::vector<std::vector<int>> d(size_t(n) + 1, std::vector<int>(size_t(m) + 1));
    for (int i = 0; i <= n; ++i)
        d[i][0] = i;
    for (int j = 0; j <= m; ++j)
        d[0][j] = j;
    for (int i = 1; i <= n; ++i)
        for (int j = 1; j <= m; ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[size_t(n)][size_t(m)];
}

QString withoutDashes(QString text)
{
    while (text.startsWith('-'))
        text.remove(0, 1);
    return text;
}

}  // namespace

QString closestMatchHint(const QString& given, const QStringList& candidates)
{
    const QString word = withoutDashes(given);
    QString best;
    int bestDistance = 0;
    for (const QString& candidate : candidates) {
        const int d = editDistance(word, withoutDashes(candidate));
        if (best.isEmpty() || d < bestDistance) {
            best = candidate;
            bestDistance = d;
        }
    }
    // A prefix ("--thread" for "--threads"), or a slip or two in a word long enough to tell.
    const bool prefix = word.size() >= 3 && withoutDashes(best).startsWith(word);
    const bool slip = bestDistance <= (word.size() >= 6 ? 2 : 1);
    return !best.isEmpty() && (prefix || slip) ? "did you mean '" + best + "'?" : QString();
}

QString versionText()
{
    return kTool + ' ' + QCoreApplication::applicationVersion();
}

CommandLine::CommandLine(const QString& command, const QString& description) : m_command(command)
{
    m_parser.setApplicationDescription(description);
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    m_parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    addFlag({"help", "h"}, "Show this help and exit.");
    addFlag("version", "Show the version and exit.");
}

void CommandLine::addPositional(const QString& name, const QString& description, bool optional, bool repeated)
{
    QString syntax = repeated ? name + "..." : name;
    if (optional)
        syntax = '[' + syntax + ']';
    m_parser.addPositionalArgument(name, description, syntax);
    m_positionalNames << name;
    if (!optional)
        ++m_requiredPositionals;
    m_repeatedLast = repeated;
}

void CommandLine::addFlag(const QStringList& names, const QString& description)
{
    m_parser.addOption(QCommandLineOption(names, description));
    m_optionNames << dashed(names.front());
}

void CommandLine::addValue(const QStringList& names, const QString& valueName, const QString& description)
{
    m_parser.addOption(QCommandLineOption(names, description, valueName));
    m_optionNames << dashed(names.front());
}

std::optional<int> CommandLine::parse(const QStringList& args)
{
    const bool parsed = m_parser.parse(QStringList{kTool + ' ' + m_command} + args);
    // Help wins over any other problem on the line: whoever asks for it wants to read it.
    if (m_parser.isSet("help")) {
        QTextStream(stdout) << helpText();
        return 0;
    }
    if (!parsed) {
        const QStringList unknown = m_parser.unknownOptionNames();
        if (!unknown.isEmpty())
            return usageError(unknownOptionMessage(unknown.front(), args));
        QString text = m_parser.errorText();
        if (text.endsWith('.'))
            text.chop(1);
        if (!text.isEmpty())
            text[0] = text[0].toLower();
        return usageError(text);
    }
    if (m_parser.isSet("version")) {
        QTextStream(stdout) << versionText() << '\n';
        return 0;
    }
    const QStringList given = m_parser.positionalArguments();
    if (given.size() < m_requiredPositionals)
        return usageError(m_positionalNames.value(given.size()) + " is missing");
    if (!m_repeatedLast && given.size() > m_positionalNames.size())
        return usageError("unexpected argument '" + given[m_positionalNames.size()] + "'");
    return std::nullopt;
}

QString CommandLine::unknownOptionMessage(const QString& unknown, const QStringList& args) const
{
    // Qt reports the bare name; show it as it was typed.
    QString name = dashed(unknown);
    for (const QString& arg : args)
        if (arg.startsWith('-') && withoutDashes(arg.section('=', 0, 0)) == unknown)
            name = arg.section('=', 0, 0);
    const QString hint = closestMatchHint(name, m_optionNames);
    return "unknown option '" + name + "'" + (hint.isEmpty() ? QString() : "; " + hint);
}

bool CommandLine::isSet(const QString& name) const
{
    return m_parser.isSet(name);
}

QString CommandLine::value(const QString& name) const
{
    return m_parser.value(name);
}

QStringList CommandLine::list(const QString& name) const
{
    QStringList result;
    for (const QString& value : m_parser.values(name))
        for (const QString& item : value.split(',', Qt::SkipEmptyParts))
            if (!item.trimmed().isEmpty())
                result << item.trimmed();
    return result;
}

QStringList CommandLine::positionals() const
{
    return m_parser.positionalArguments();
}

std::optional<int> CommandLine::number(const QString& name, int minimum, int maximum)
{
    if (!m_parser.isSet(name))
        return std::nullopt;
    const QString text = m_parser.value(name);
    bool ok = false;
    const int n = text.toInt(&ok);
    if (ok && n >= minimum && n <= maximum)
        return n;
    reject(QStringLiteral("%1 needs a whole number from %2 to %3, not '%4'")
               .arg(dashed(name))
               .arg(minimum)
               .arg(maximum)
               .arg(text));
    return std::nullopt;
}

std::optional<QDate> CommandLine::date(const QString& name)
{
    if (!m_parser.isSet(name))
        return std::nullopt;
    const QString text = m_parser.value(name);
    const QDate date = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    if (date.isValid())
        return date;
    reject(dashed(name) + " needs a date as yyyy-MM-dd, not '" + text + "'");
    return std::nullopt;
}

void CommandLine::reject(const QString& message)
{
    if (m_error.isEmpty())
        m_error = message;
}

int CommandLine::usageError(const QString& message) const
{
    const QString text = message.isEmpty() ? m_error : message;
    return fail(2, text + " (see '" + kTool + ' ' + m_command + " --help')");
}

int CommandLine::fail(int status, const QString& message) const
{
    QTextStream(stderr) << kTool << ' ' << m_command << ": " << message << '\n';
    return status;
}

QString CommandLine::helpText() const
{
    // Qt names the executable by the path it was started with; the command name reads better.
    QString text = m_parser.helpText();
    const int end = text.indexOf('\n');
    QString usage = text.left(end);
    const int options = usage.indexOf(QLatin1String(" [options]"));
    usage = "usage: " + kTool + ' ' + m_command + (options >= 0 ? usage.mid(options) : QString());
    return usage + text.mid(end);
}

}  // namespace Dravelin::Cli
