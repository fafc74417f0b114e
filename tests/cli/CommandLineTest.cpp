#include "tests/support/CliRun.h"
#include "tests/support/TestEnvironment.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace T = Dravelin::Test;

namespace {

struct UsageCase
{
    QStringList args;
    QString message;  // part of the one line on stderr
};

std::ostream& operator<<(std::ostream& out, const UsageCase& c)
{
    return out << c.args.join(' ').toStdString();
}

const QString kPacs = QStringLiteral("--host=127.0.0.1");
const QString kWeb = QStringLiteral("http://127.0.0.1:1/dicomweb");

// Every command's usage errors: exit 2, nothing on stdout, one line on stderr that names the
// problem and points to the command's help.
std::vector<UsageCase> usageCases()
{
    const QString data = T::pydicomData("test_files");
    const QString file = T::pydicomData("test_files/CT_small.dcm");
    return {
        {{}, "dravelin-dicom: a command is missing"},
        {{"no-such-command"}, "unknown command 'no-such-command'"},
        {{"scna"}, "did you mean 'scan'?"},
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"tree"}, "dravelin-dicom tree: FILE is missing (see 'dravelin-dicom tree --help')"},
        {{"tree", "/no/such/file.dcm"}, "cannot read /no/such/file.dcm"},
        {{"scan"}, "PATH is missing"},
        {{"scan", data, "--bogus"}, "unknown option '--bogus' (see 'dravelin-dicom scan --help')"},
        {{"scan", data, "--thread", "2"}, "unknown option '--thread'; did you mean '--threads'?"},
        {{"scan", data, "--threads=many"}, "--threads needs a whole number from 1 to 1024, not 'many'"},
        {{"scan", data, "--threads"}, "missing value after '--threads'"},
        {{"scan", data, "--json=yes"}, "unexpected value after '--json'"},
        {{"scan", data, "--from", "yesterday"}, "--from needs a date as yyyy-MM-dd, not 'yesterday'"},
        {{"scan", data, "--json", "--location"}, "cannot be combined with --location"},
        {{"scan", data, data}, "unexpected argument '" + data + "'"},
        {{"scan", "/no/such/folder"}, "/no/such/folder: no such file or folder"},
        {{"scan", file}, "not a DICOMDIR"},
        {{"load"}, "LOCATION is missing"},
        {{"load", "/no/such/folder"}, "/no/such/folder"},
        {{"pacs-find", kPacs, "--port", "104"}, "--aec (the server's AE title) is missing"},
        {{"pacs-find", "--port", "104", "--aec", "A"}, "--host is missing"},
        {{"pacs-find", kPacs, "--port", "many", "--aec", "A"},
         "--port needs a whole number from 1 to 65535, not 'many'"},
        {{"pacs-find", kPacs, "--port=70000", "--aec", "A"}, "from 1 to 65535, not '70000'"},
        {{"pacs-find", kPacs, "--port", "104", "--aec"}, "missing value after '--aec'"},
        {{"pacs-find", kPacs, "--port", "104", "-aec", "SEVENTEEN_CHARS_1"},
         "--aec 'SEVENTEEN_CHARS_1' is not a valid AE title: it has more than 16 characters"},
        {{"pacs-find", kPacs, "--port", "104", "--aec", "A", "--aet", "A\\B"}, "--aet 'A\\B' is not a valid AE title"},
        {{"pacs-find", kPacs, "--port", "104", "--aec", "A", "--calling-aet", "B"}, "unknown option '--calling-aet'"},
        {{"web-scan", "--json"}, "URL is missing"},
        {{"web-scan", "ftp://127.0.0.1/x"}, "not an http(s) URL: ftp://127.0.0.1/x"},
        {{"web-scan", kWeb, kWeb}, "unexpected argument"},
        {{"web-scan", kWeb, "--threads", "x"}, "--threads needs a whole number"},
        {{"web-scan", kWeb, "--user"}, "missing value after '--user'"},
        {{"web-scan", kWeb, "--password-env", "PW"}, "--password-env needs --user"},
        {{"web-scan", kWeb, "--user", "u", "--password-env", "DRAVELIN_TEST_UNSET_VARIABLE"},
         "environment variable DRAVELIN_TEST_UNSET_VARIABLE is not set"},
        {{"deidentify", data}, "OUTPUT is missing"},
        {{"deidentify", "/no/such/folder", "/no/such/out"}, "input folder not found: /no/such/folder"},
        {{"deidentify", data, file}, "the output is a file, not a folder"},
        {{"deidentify", data, "/no/such/out", "--profile", "/no/such.xml"}, "cannot read the profile /no/such.xml"},
        {{"deidentify", data, data}, "OUTPUT is INPUT: give --in-place"},
        {{"deidentify", data + "/dicomdirtests", "/no/such/out", "--series", "1.2.3.4.5"},
         "series not found: 1.2.3.4.5"},
        {{"convert", file, "/no/such/out", "--compression", "zip"}, "unknown compression 'zip'"},
    };
}

using UsageErrors = ::testing::TestWithParam<UsageCase>;

TEST_P(UsageErrors, ExitTwoWithOneLine)
{
    const T::CliResult r = T::runCli(GetParam().args);
    EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    EXPECT_EQ(r.errLines().size(), 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.startsWith("dravelin-dicom")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(GetParam().message)) << r.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(EveryCommand, UsageErrors, ::testing::ValuesIn(usageCases()));

using Help = ::testing::TestWithParam<QString>;

// Help goes to stdout with exit 0, even next to a bad option, and describes every option.
TEST_P(Help, DescribesEveryOption)
{
    const QString command = GetParam();
    const T::CliResult help = T::runCli({command, "--bogus", "-h"});
    ASSERT_EQ(help.exitCode, 0) << help.err.toStdString();
    EXPECT_TRUE(help.err.isEmpty());
    EXPECT_TRUE(help.out.startsWith("usage: dravelin-dicom " + command + " [options]")) << help.out.toStdString();
    int options = 0;
    for (const QString& line : help.outLines()) {
        if (!line.startsWith("  -"))
            continue;
        ++options;
        EXPECT_TRUE(line.contains(QRegularExpression("\\S {2,}\\S"))) << "no description: " << line.toStdString();
    }
    EXPECT_GE(options, 2);
    EXPECT_EQ(T::runCli({command, "--help"}).out, help.out);

    const T::CliResult version = T::runCli({command, "--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.startsWith("dravelin-dicom ")) << version.out.toStdString();
}

INSTANTIATE_TEST_SUITE_P(EveryCommand, Help,
                         ::testing::Values("scan", "tree", "load", "convert", "pacs-find", "web-scan", "deidentify",
                                           "rt-labelmap"));

TEST(TopLevelHelp, ListsEveryCommand)
{
    const T::CliResult help = T::runCli({"--help"});
    ASSERT_EQ(help.exitCode, 0);
    for (const char* command :
         {"scan", "tree", "load", "convert", "pacs-find", "web-scan", "deidentify", "rt-labelmap"})
        EXPECT_TRUE(help.out.contains(QString("  %1 ").arg(command))) << command;
    EXPECT_EQ(T::runCli({"--version"}).exitCode, 0);
}

}  // namespace
