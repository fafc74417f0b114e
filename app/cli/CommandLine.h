#pragma once

#include <QCommandLineParser>
#include <QDate>
#include <QString>
#include <QStringList>

#include <optional>

namespace Dravelin::Cli {

// The argument parser every command of dravelin-dicom uses, so that all of them behave alike:
// `--help`/`-h` prints every option and exits 0, `--version` prints the version, `--name value`
// and `--name=value` both work, and a usage error is one line on stderr that names the bad
// argument and says where to look (exit status 2).
//
//     CommandLine cl("scan", "Scans a folder ...");
//     cl.addPositional("PATH", "A folder or a DICOMDIR file.");
//     cl.addFlag("json", "Print one JSON document.");
//     if (const auto status = cl.parse(args))
//         return *status;
//     const auto threads = cl.number("threads", 1, 1024);
//     if (cl.failed())
//         return cl.usageError();
class CommandLine
{
public:
    CommandLine(const QString& command, const QString& description);

    // Positional arguments in order; each one is required unless `optional`. The last one may
    // be repeated when `repeated` (e.g. FILE...).
    void addPositional(const QString& name, const QString& description, bool optional = false, bool repeated = false);
    // An option without a value. `names` holds the long name first, then any short one.
    void addFlag(const QStringList& names, const QString& description);
    void addFlag(const QString& name, const QString& description) { addFlag(QStringList{name}, description); }
    // An option with a value, shown as `--name VALUE` in the help.
    void addValue(const QStringList& names, const QString& valueName, const QString& description);
    void addValue(const QString& name, const QString& valueName, const QString& description)
    {
        addValue(QStringList{name}, valueName, description);
    }

    // Parses the arguments after the command name. Returns the exit status when the command
    // must not run: 0 after printing the help or the version, 2 after a usage error.
    std::optional<int> parse(const QStringList& args);

    bool isSet(const QString& name) const;
    QString value(const QString& name) const;
    // Every value given for the option, comma-separated lists split, blanks trimmed.
    QStringList list(const QString& name) const;
    // Positional arguments in order.
    QStringList positionals() const;

    // Typed values; nothing when the option is absent. A value that does not fit records a
    // usage error naming the option and the value (see failed()).
    std::optional<int> number(const QString& name, int minimum, int maximum);
    std::optional<QDate> date(const QString& name);

    // Records a usage error found by the command itself (the first one is kept).
    void reject(const QString& message);
    bool failed() const { return !m_error.isEmpty(); }
    // Prints the recorded (or the given) usage error with the help hint; returns 2.
    int usageError(const QString& message = QString()) const;
    // Prints "dravelin-dicom COMMAND: message" on stderr; returns `status`.
    int fail(int status, const QString& message) const;

    QString helpText() const;

private:
    QString unknownOptionMessage(const QString& unknown, const QStringList& args) const;

    QString m_command;
    QCommandLineParser m_parser;
    QStringList m_optionNames;  // long names, for hints
    QStringList m_positionalNames;
    int m_requiredPositionals = 0;
    bool m_repeatedLast = false;
    QString m_error;
};

// "did you mean 'x'?" for the candidate closest to `given` when it is a likely typo, else empty.
QString closestMatchHint(const QString& given, const QStringList& candidates);

// The version of the tool ("dravelin-dicom 0.1").
QString versionText();

}  // namespace Dravelin::Cli
