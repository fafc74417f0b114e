#include "browser/models/DicomBrowserFilterModel.h"
#include "browser/models/DicomBrowserModel.h"
#include "browser/models/WebCredentials.h"
#include "browser/widgets/DateFilterWidget.h"
#include "browser/widgets/DicomBrowser.h"
#include "browser/widgets/SettingsWidget.h"
#include "browser/widgets/TagsWidget.h"
#include "host/app/AlgorithmFactory.h"
#include "host/app/FactoryRegistry.h"
#include "host/app/RawImageIoAlgorithm.h"
#include "host/core/LocationString.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/DicomPluginSettings.h"
#include "host/ui/LabeledSlider.h"
#include "host/ui/MainWindowBase.h"
#include "host/ui/PropertiesListWidget.h"
#include "host/ui/PropertiesWidget.h"
#include "tests/browser/MemoryPasswordStore.h"
#include "tests/scanning/TestDatasets.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/ModalAnswer.h"
#include "tests/support/PacsTestServer.h"
#include "tests/support/TestEnvironment.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTreeView>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace Dravelin;
namespace DT = Dravelin::Test;

namespace {

using DT::MessageBoxes;

class Browser : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Every case starts from empty settings of its own.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
        QSettings().clear();
        cache = std::make_shared<Dicom::DatasetCache>(256);
        browser = std::make_unique<DicomBrowser>(cache);
    }

    template <typename T>
    T* child(const char* name) const
    {
        T* widget = browser->findChild<T*>(name);
        EXPECT_TRUE(widget) << name;
        return widget;
    }

    bool waitForScan(int timeoutMs = 120000)
    {
        const bool stopped = QTest::qWaitFor([&] { return !browser->browserModel()->isScanning(); }, timeoutMs);
        QCoreApplication::processEvents();  // the label updates queued by the last rows
        return stopped;
    }

    void scanFolder(const QString& path)
    {
        child<QComboBox>("pathEdit")->setEditText(path);
        browser->scan();
        ASSERT_TRUE(waitForScan());
    }

    QString generated(int patients, int series, int images)
    {
        const QString path = m_dataDir.file(QString("p%1s%2").arg(patients).arg(series));
        EXPECT_TRUE(
            DT::runGenerator({"folder", path, "--patients", QString::number(patients), "--studies", "1", "--series",
                              QString::number(series), "--images", QString::number(images), "--size", "16"}));
        return path;
    }

    bool okEnabled() const { return child<QDialogButtonBox>("buttonBox")->button(QDialogButtonBox::Ok)->isEnabled(); }

    // The series rows of the tree, in the order the view shows them.
    std::vector<QModelIndex> seriesRows() const
    {
        std::vector<QModelIndex> rows;
        const auto* model = child<QTreeView>("view")->model();
        for (int p = 0; p < model->rowCount(); ++p)
            for (int s = 0; s < model->rowCount(model->index(p, 0)); ++s) {
                const QModelIndex study = model->index(s, 0, model->index(p, 0));
                for (int r = 0; r < model->rowCount(study); ++r)
                    rows.push_back(model->index(r, 0, study));
            }
        return rows;
    }

    static std::string uidOf(const QModelIndex& series)
    {
        return series.data(DicomBrowserModel::SeriesRole).value<Dicom::Series*>()->seriesInstanceUid.toStdString();
    }

    DT::TempDir m_settingsDir;
    DT::TempDir m_dataDir;
    std::shared_ptr<Dicom::DatasetCache> cache;
    std::unique_ptr<DicomBrowser> browser;
};

}  // namespace

TEST_F(Browser, OkFollowsTheChoiceAndTheOutputFollowsTheViewOrder)
{
    scanFolder(generated(1, 3, 2));
    const std::vector<QModelIndex> rows = seriesRows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_FALSE(okEnabled());

    // Nothing checked: the selected row is the choice.
    child<QTreeView>("view")->selectionModel()->select(rows[1], QItemSelectionModel::ClearAndSelect);
    EXPECT_TRUE(okEnabled());
    EXPECT_NE(browser->selectedSeriesUri().find(uidOf(rows[1])), std::string::npos);

    // Checked in reverse: still returned top to bottom.
    auto* view = child<QTreeView>("view");
    view->model()->setData(rows[2], Qt::Checked, Qt::CheckStateRole);
    view->model()->setData(rows[0], Qt::Checked, Qt::CheckStateRole);
    const std::vector<std::string> locations = Filesystem::splitLocationString(browser->selectedSeriesUri());
    ASSERT_EQ(locations.size(), 2u);
    EXPECT_NE(locations[0].find(uidOf(rows[0])), std::string::npos);
    EXPECT_NE(locations[1].find(uidOf(rows[2])), std::string::npos);

    // A series without images never makes a choice, even checked.
    auto model = std::make_unique<DicomBrowserModel>(nullptr);
    DcmDataset empty;
    auto* patient = new Dicom::Patient(empty, false);
    auto* study = new Dicom::Study(patient);
    patient->studies.push_back(study);
    study->series.push_back(new Dicom::Series(study));
    model->addPatient(patient);
    browser->setBrowserModel(std::move(model));
    ASSERT_EQ(seriesRows().size(), 1u);
    view->model()->setData(seriesRows()[0], Qt::Checked, Qt::CheckStateRole);
    EXPECT_FALSE(okEnabled());
}

// The Info tab shows the current row and follows its changes; the Tags tab and the frame slider
// are there only for a series or an image.
TEST_F(Browser, InfoTabFollowsTheCurrentRow)
{
    auto* tabs = child<QTabWidget>("infoTabWidget");
    auto* slider = browser->findChild<LabeledSlider*>();
    ASSERT_TRUE(slider);
    EXPECT_FALSE(tabs->isTabEnabled(1));
    EXPECT_FALSE(slider->isVisibleTo(browser.get()));

    const auto image = [](const char* sopUid) {
        return DT::makeChain(
            "P1", "", "1.2.3", "1.2.3.4",
            {{DCM_SOPClassUID, UID_CTImageStorage}, {DCM_SOPInstanceUID, sopUid}, {DCM_Modality, "CT"}});
    };
    browser->browserModel()->addPatient(image("1.2.3.4.1"));
    const std::vector<QModelIndex> rows = seriesRows();
    ASSERT_EQ(rows.size(), 1u);
    auto* view = child<QTreeView>("view");
    const auto field = [this](const QString& label) {
        auto* layout = child<QFormLayout>("infoLayout");
        for (int row = 0; row < layout->rowCount(); ++row) {
            auto* name = layout->itemAt(row, QFormLayout::LabelRole);
            auto* value = layout->itemAt(row, QFormLayout::FieldRole);
            if (name && value && qobject_cast<QLabel*>(name->widget())->text() == label)
                return qobject_cast<QLineEdit*>(value->widget())->text();
        }
        return QStringLiteral("<none>");
    };
    view->selectionModel()->setCurrentIndex(rows[0], QItemSelectionModel::ClearAndSelect);
    EXPECT_EQ(field("Modality"), "CT");
    EXPECT_EQ(field("Number of Files"), "1");
    EXPECT_TRUE(tabs->isTabEnabled(1));
    EXPECT_TRUE(slider->isVisibleTo(browser.get()));

    // A scan that adds an image to the shown series updates its count in place.
    browser->browserModel()->addPatient(image("1.2.3.4.2"));
    EXPECT_EQ(field("Number of Files"), "2");

    view->selectionModel()->setCurrentIndex(rows[0].parent().parent(), QItemSelectionModel::ClearAndSelect);
    EXPECT_EQ(field("Number of Files"), "<none>");
    EXPECT_FALSE(tabs->isTabEnabled(1));
    EXPECT_FALSE(slider->isVisibleTo(browser.get()));
}

// The details of the row made current take the place kept for them beside the tree: the dialog
// keeps its size (growing it re-lays out and repaints the whole window, mid-scan too).
TEST_F(Browser, DetailsOfTheCurrentRowKeepTheDialogsSize)
{
    browser->resize(1242, 779);  // lower than the details of a series with its preview
    browser->show();
    scanFolder(generated(1, 1, 4));
    const QSize shown = browser->size();
    child<QTreeView>("view")->selectionModel()->setCurrentIndex(seriesRows()[0], QItemSelectionModel::ClearAndSelect);
    QCoreApplication::processEvents();
    EXPECT_TRUE(child<QTabWidget>("infoTabWidget")->isVisible());
    EXPECT_EQ(browser->size(), shown);
}

// What the Info and Tags tabs show leaves with its row: hidden by a filter, or gone with a scan.
TEST_F(Browser, InfoAndTagsClearWhenTheirSeriesIsFilteredOutOrANewScanStarts)
{
    scanFolder(generated(2, 1, 1));
    auto* view = child<QTreeView>("view");
    auto* tabs = child<QTabWidget>("infoTabWidget");
    auto* tags = child<Dicom::TagsWidget>("tagsWidget");
    const auto showFirstSeries = [&] {
        const std::vector<QModelIndex> rows = seriesRows();
        ASSERT_EQ(rows.size(), 2u);
        view->selectionModel()->setCurrentIndex(rows[0], QItemSelectionModel::ClearAndSelect);
        tabs->setCurrentIndex(1);
        ASSERT_TRUE(tags->dataset());
        ASSERT_FALSE(tabs->isHidden());
    };
    const auto cleared = [&] {
        return tabs->isHidden() && !tags->dataset() && child<QFormLayout>("infoLayout")->count() == 0;
    };

    showFirstSeries();
    const QString other =
        view->model()->index(1, 0).data(DicomBrowserModel::PatientRole).value<Dicom::Patient*>()->patientName;
    child<QLineEdit>("filterLineEdit")->setText(other);
    ASSERT_EQ(view->model()->rowCount(), 1);
    EXPECT_TRUE(cleared());

    child<QLineEdit>("filterLineEdit")->clear();
    showFirstSeries();
    QDir().mkpath(m_dataDir.file("empty"));
    scanFolder(m_dataDir.file("empty"));
    EXPECT_TRUE(cleared());
}

TEST_F(Browser, NetworkPathsAreRefusedAndLocalFoldersRemembered)
{
    MessageBoxes boxes;
    for (const QString path : {"\\\\server\\share", "//server/share"}) {
        child<QComboBox>("pathEdit")->setEditText(path);
        browser->scan();
        ASSERT_EQ(boxes.seen.size(), 1) << path.toStdString();
        EXPECT_EQ(boxes.seen.takeFirst(),
                  "DICOM|Directory path starts with '//' or '\\\\' and cannot be scanned. Consider mapping this path "
                  "to a local filesystem path.");
        // A path that cannot be scanned is not offered again.
        EXPECT_FALSE(QSettings().value("lastDir/scanDicomFolders").toStringList().contains(path));
        EXPECT_EQ(child<QComboBox>("pathEdit")->findText(path), -1);
    }
    // Recent folders: newest first, no duplicates, at most ten.
    QStringList folders;
    for (int i = 0; i < 11; ++i) {
        folders.prepend(m_dataDir.file(QString("empty%1").arg(i)));
        QDir().mkpath(folders.front());
        scanFolder(folders.front());
        if (i == 0) {
            scanFolder(folders.front());
            EXPECT_EQ(QSettings().value("lastDir/scanDicomFolders").toStringList().count(folders.front()), 1);
        }
    }
    EXPECT_TRUE(boxes.seen.isEmpty());
    EXPECT_EQ(QSettings().value("lastDir/scanDicomFolders").toStringList(), folders.mid(0, 10));
    // A new dialog offers the remembered folders, the newest as its text.
    DicomBrowser again(cache);
    auto* pathEdit = again.findChild<QComboBox*>("pathEdit");
    EXPECT_EQ(pathEdit->count(), 10);
    EXPECT_EQ(pathEdit->currentText(), folders.front());
}

TEST_F(Browser, AdvancedQuerySwitchesBetweenFieldsAndOneQuery)
{
    auto* patient = child<QLineEdit>("dicomWebPatientFilterEdit");
    auto* study = child<QLineEdit>("dicomWebStudyFilterEdit");
    patient->setText("DOE JOHN");
    study->setText("HEAD&NECK");
    child<QCheckBox>("dicomWebAdvancedQueryCheckBox")->setChecked(true);
    EXPECT_EQ(patient->text(), "PatientName=DOE%20JOHN&StudyDescription=HEAD%26NECK");
    EXPECT_TRUE(study->isHidden());
    child<QCheckBox>("dicomWebAdvancedQueryCheckBox")->setChecked(false);
    EXPECT_EQ(patient->text(), "DOE JOHN");
    EXPECT_EQ(study->text(), "HEAD&NECK");
}

TEST_F(Browser, StatsAndModalityFilter)
{
    // The date filter sits with the other filters behind "More filters".
    EXPECT_TRUE(child<QWidget>("moreFiltersWidget")->findChild<DateFilterWidget*>());
    auto* stats = child<QLabel>("statsLabel");
    EXPECT_EQ(stats->text(), "0 Patient, 0 Study, 0 Series");
    scanFolder(generated(1, 2, 1));
    EXPECT_EQ(stats->text(), "1 Patient, 1 Study, 2 Series");
    scanFolder(generated(2, 2, 1));
    EXPECT_EQ(stats->text(), "2 Patients, 2 Studies, 4 Series");
    const QString firstName = browser->browserModel()->patients().front()->patientName;
    child<QLineEdit>("filterLineEdit")->setText(firstName);
    EXPECT_EQ(stats->text(),
              "2 Patients (1 visible), 2 Studies (1 visible), 4 Series (2 visible)  -  Some filters "
              "active");
    child<QLineEdit>("filterLineEdit")->clear();

    // The generated series alternate between MR and CT; checking one in the list filters and names it.
    auto* modality = child<QComboBox>("modalityComboBox");
    ASSERT_TRUE(modality->isEnabled());
    EXPECT_EQ(modality->currentText(), "Any");
    ASSERT_EQ(modality->count(), 2);
    Q_EMIT modality->activated(1);  // "MR", sorted after "CT"
    EXPECT_EQ(modality->lineEdit()->text(), "MR");
    EXPECT_EQ(stats->text(), "2 Patients, 2 Studies, 4 Series (2 visible)  -  Some filters active");
    Q_EMIT modality->activated(0);
    EXPECT_EQ(modality->lineEdit()->text(), "CT, MR");
    EXPECT_EQ(browser->browserFilterModel()->modalitiesFilter(), (std::vector<QString>{"CT", "MR"}));
    // A filter set elsewhere shows in the check marks.
    browser->browserFilterModel()->setModalitiesFilter({"CT"});
    EXPECT_EQ(browser->selectedModalities(), std::vector<QString>{"CT"});
    // Rows the filter hides still count: a scan under a text filter that matches nothing.
    child<QLineEdit>("filterLineEdit")->setText("no such patient");
    scanFolder(generated(3, 1, 1));
    EXPECT_EQ(stats->text(),
              "3 Patients (0 visible), 3 Studies (0 visible), 3 Series (0 visible)  -  Some filters active");
    // The files a scan left out are counted by reason beside the tree, as the scan command counts them.
    child<QLineEdit>("filterLineEdit")->clear();
    const QString withJunk = generated(1, 1, 1);
    ASSERT_TRUE(DT::writeFile(withJunk + "/notes.txt", "not an image\n"));
    scanFolder(withJunk);
    ASSERT_TRUE(QTest::qWaitFor([&] { return stats->text().contains("skipped"); }, 5000))
        << stats->text().toStdString();
    EXPECT_EQ(stats->text(), "1 Patient, 1 Study, 1 Series  -  1 file skipped: 1 not DICOM (the list is in the log)");
}

TEST_F(Browser, PacsTabWithoutServersExplainsAndDisablesScan)
{
    MessageBoxes boxes;
    browser->show();
    auto* tabs = child<QTabWidget>("tabWidget");
    for (int round = 0; round < 2; ++round) {
        tabs->setCurrentIndex(DicomBrowser::PacsTab);
        EXPECT_FALSE(child<QPushButton>("btnPacsConnect")->isEnabled());
        tabs->setCurrentIndex(DicomBrowser::DirectoryTab);
    }
    const QString box = "No PACS servers configured|Please configure at least one PACS server in the Settings.";
    EXPECT_EQ(boxes.seen, QStringList({box, box}));
}

// The DICOMweb tab against a server with a login and one failing series: the first request goes
// without a login, the 401 asks; a wrong password makes the dialog ask again with the reason and
// the accepted login goes to the keyring. Only the failing series is reported, as incomplete.
TEST_F(Browser, DicomWebAsksOnlyAfterA401AndAgainAfterARefusedLogin)
{
    std::atomic<int> requests{0}, withoutLogin{0};
    DT::HttpTestServer server([&](const DT::HttpTestServer::Request& request) {
        ++requests;
        withoutLogin += request.header("authorization").empty() ? 1 : 0;
        if (request.header("authorization") != "Basic YWxpY2U6c2VjcmV0")  // alice:secret
            return DT::HttpTestServer::json("{}", 401);
        return DT::HttpTestServer::oneFailingSeries(500)(request);
    });
    auto keyring = std::make_shared<DT::MemoryPasswordStore>();
    std::vector<std::string> messages;
    browser->setWebCredentials(std::make_shared<WebCredentials>(
        keyring, [&](const std::string&, const std::string&, const std::string& message) {
            messages.push_back(message);
            return WebCredentials::Login{"alice", messages.size() == 1 ? "wrong" : "secret"};
        }));
    MessageBoxes boxes;
    child<QComboBox>("dicomWebUrlEdit")->setEditText(QString::fromStdString(server.url("/dicomweb")));
    browser->scanWeb();
    ASSERT_TRUE(QTest::qWaitFor([&] { return messages.size() == 2 && !browser->browserModel()->isScanning(); }));
    EXPECT_EQ(messages, (std::vector<std::string>{"", "Invalid username or password"}));
    EXPECT_EQ(withoutLogin, 1);
    EXPECT_EQ(keyring->secrets, (std::map<std::string, std::string>{{server.url("/dicomweb"), "alice\nsecret"}}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.seen.isEmpty(); }, 10000));
    ASSERT_EQ(boxes.seen.size(), 1) << boxes.seen.join('\n').toStdString();
    EXPECT_TRUE(boxes.seen.front().startsWith("Scan failed|The scan did not succeed. Results may be incomplete. "))
        << boxes.seen.front().toStdString();
    EXPECT_TRUE(boxes.seen.front().endsWith("(code 500)")) << boxes.seen.front().toStdString();
    QCoreApplication::processEvents();
    EXPECT_EQ(child<QLabel>("statsLabel")->text(), "1 Patient, 1 Study, 1 Series");
}

// A server without a login is never asked for one; a login written into the address is used, kept
// in the keyring and neither in the recent list nor in the settings file; a cancelled login is
// said, and a later scan of an open server works.
TEST_F(Browser, DicomWebLoginsStayOutOfSettingsAndACancelIsSaid)
{
    DT::HttpTestServer open([](const DT::HttpTestServer::Request&) { return DT::HttpTestServer::json("[]"); });
    DT::HttpTestServer guarded([](const DT::HttpTestServer::Request& request) {
        if (request.header("authorization") != "Basic YWxpY2U6c2VjcmV0")
            return DT::HttpTestServer::json("{}", 401);
        return DT::HttpTestServer::json("[]");
    });
    auto keyring = std::make_shared<DT::MemoryPasswordStore>();
    int asked = 0;
    browser->setWebCredentials(
        std::make_shared<WebCredentials>(keyring, [&](const std::string&, const std::string&, const std::string&) {
            ++asked;
            return std::optional<WebCredentials::Login>();
        }));
    MessageBoxes boxes;
    const auto scan = [&](const std::string& url) {
        child<QComboBox>("dicomWebUrlEdit")->setEditText(QString::fromStdString(url));
        browser->scanWeb();
        return waitForScan() && QTest::qWaitFor([&] { return !browser->browserModel()->isScanning(); });
    };
    ASSERT_TRUE(scan(open.url("/dicomweb")));
    EXPECT_EQ(asked, 0);
    const std::string withLogin = "http://alice:secret@" + guarded.url("/dicomweb").substr(7);
    ASSERT_TRUE(scan(withLogin));
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(keyring->secrets[guarded.url("/dicomweb")], "alice\nsecret");
    ASSERT_TRUE(scan(open.url("/dicomweb")));

    keyring->secrets.clear();
    browser->setWebCredentials(
        std::make_shared<WebCredentials>(keyring, [&](const std::string&, const std::string&, const std::string&) {
            ++asked;
            return std::optional<WebCredentials::Login>();
        }));
    ASSERT_TRUE(scan(guarded.url("/dicomweb")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.seen.isEmpty(); }));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(boxes.seen, QStringList("Login required|The server " + QString::fromStdString(guarded.url("/dicomweb")) +
                                      " requires a login: the scan was cancelled."));
    QSettings().sync();
    QFile settings(QSettings().fileName());
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    const QByteArray text = settings.readAll();
    EXPECT_FALSE(text.contains("secret")) << text.toStdString();
    EXPECT_TRUE(text.contains(QByteArray::fromStdString(guarded.url("/dicomweb")))) << text.toStdString();
}

// The error callback a web scan puts on the shared cache goes with the scan: a cache error of a
// later, unrelated read is no part of any search and must not warn at the end of the next scan.
TEST_F(Browser, CacheErrorsAfterAWebScanRaiseNoSearchWarning)
{
    DT::HttpTestServer server([](const DT::HttpTestServer::Request&) { return DT::HttpTestServer::json("[]"); });
    MessageBoxes boxes;
    child<QComboBox>("dicomWebUrlEdit")->setEditText(QString::fromStdString(server.url("/dicomweb")));
    browser->scanWeb();
    ASSERT_TRUE(waitForScan());
    EXPECT_FALSE(cache->loadFromFile(m_dataDir.file("missing.dcm").toStdString(), nullptr, false));
    QDir().mkpath(m_dataDir.file("empty"));
    scanFolder(m_dataDir.file("empty"));
    EXPECT_TRUE(boxes.seen.isEmpty()) << boxes.seen.join('\n').toStdString();
}

// The PACS tab on a real server: the configured server is offered, a plain filter searches for
// a part of names, one with a wildcard is sent as written.
TEST_F(Browser, PacsTabScansTheConfiguredServer)
{
    DT::PacsTestServer server(DT::PacsTestServer::Kind::Orthanc);
    ASSERT_TRUE(server.startWithCorpus()) << server.errorText().toStdString();
    DicomPluginSettings settings;
    settings.pacsOwnAeTitle = QString::fromStdString(server.options().clientAeTitle);
    settings.setPacsServers({{"Other", "127.0.0.1", 1, "OTHER", false},
                             {"Test PACS", "127.0.0.1", server.port(), server.options().aeTitle, true}});

    browser = std::make_unique<DicomBrowser>(cache);
    browser->fixTabWidget(true, DicomBrowser::PacsTab,
                          "pacs://127.0.0.1:" + std::to_string(server.port()) + "/" + server.options().aeTitle);
    browser->show();  // refreshes the server list
    EXPECT_EQ(child<QComboBox>("pacsServersComboBox")->currentText(), "Test PACS");
    EXPECT_FALSE(child<QWidget>("pacsPresets")->isHidden());
    EXPECT_TRUE(child<QWidget>("pacsSettings")->isHidden());
    const std::vector<std::pair<QString, size_t>> filters = {{"", 5}, {"Peter", 1}, {"Doe", 2}, {"D*r", 1}};
    for (const auto& [filter, patients] : filters) {
        child<QLineEdit>("pacsPatientNameFilter")->setText(filter);
        browser->connectToPacs();
        ASSERT_TRUE(waitForScan());
        EXPECT_EQ(browser->browserModel()->patients().size(), patients) << filter.toStdString();
    }
    // A server that is not configured shows its address instead, and Scan queries what is shown,
    // even with no server configured at all (without a message box in the way).
    browser->fixTabWidget(true, DicomBrowser::PacsTab, "pacs://pacs.example:11112/OTHER");
    EXPECT_TRUE(child<QWidget>("pacsPresets")->isHidden());
    EXPECT_EQ(child<QLineEdit>("pacsHostname")->text(), "pacs.example");
    for (const auto& configured :
         {std::vector<DicomPluginSettings::PacsServer>{{"Other", "127.0.0.1", 1, "OTHER", false}},
          std::vector<DicomPluginSettings::PacsServer>{}}) {
        settings.setPacsServers(configured);
        MessageBoxes boxes;
        browser->fixTabWidget(false, DicomBrowser::DirectoryTab, std::string());
        browser->fixTabWidget(false, DicomBrowser::PacsTab,
                              "pacs://127.0.0.1:" + std::to_string(server.port()) + "/" + server.options().aeTitle);
        EXPECT_FALSE(child<QWidget>("pacsSettings")->isHidden());
        EXPECT_TRUE(child<QPushButton>("btnPacsConnect")->isEnabled());
        child<QLineEdit>("pacsPatientNameFilter")->clear();
        browser->connectToPacs();
        ASSERT_TRUE(waitForScan());
        EXPECT_EQ(browser->browserModel()->patients().size(), 5u) << configured.size();
        EXPECT_TRUE(boxes.seen.isEmpty()) << boxes.seen.join('\n').toStdString();
    }
}

// A folder flow locks the tabs on its source; a later flow on the same dialog gets them back.
TEST_F(Browser, FixedSourceLocksTheTabsOnlyForItsFlow)
{
    auto* tabs = child<QTabWidget>("tabWidget");
    browser->fixTabWidget(true, DicomBrowser::DicomDirTab, "/data/DICOMDIR");
    EXPECT_FALSE(tabs->isEnabled());
    EXPECT_EQ(tabs->currentIndex(), int(DicomBrowser::DicomDirTab));
    EXPECT_EQ(child<QComboBox>("pathDDEdit")->currentText(), "/data/DICOMDIR");
    browser->fixTabWidget(false, DicomBrowser::DirectoryTab, "/data");
    EXPECT_TRUE(tabs->isEnabled());
    EXPECT_EQ(child<QComboBox>("pathEdit")->currentText(), "/data");
}

// The Test button asks the selected server for a C-ECHO off the GUI thread and says in one line
// whether it answered, and why not.
TEST_F(Browser, PacsSettingsTestButtonSaysWhetherTheServerAnswers)
{
    DT::PacsTestServer server(DT::PacsTestServer::Kind::Dcmqrscp);
    ASSERT_TRUE(server.start()) << server.errorText().toStdString();
    DicomPluginSettings settings;
    settings.pacsOwnAeTitle = QString::fromStdString(server.options().clientAeTitle);
    settings.save();
    settings.setPacsServers({{"Up", "127.0.0.1", server.port(), server.options().aeTitle, false},
                             {"Down", "127.0.0.1", DT::freeLoopbackPort(), "NOBODY", false}});
    Dicom::SettingsWidget page(Dicom::SettingsWidget::PacsServers);
    page.loadSettings();
    auto* list = page.findChild<PropertiesListWidget*>();
    auto* test = page.findChild<QPushButton*>("testPacsServer");
    auto* result = page.findChild<QLabel*>("pacsTestResult");
    ASSERT_TRUE(list && test && result);
    const std::pair<int, QString> cases[] = {
        {0, QString::fromStdString(server.options().aeTitle) + " at 127.0.0.1:" + QString::number(server.port()) +
                " answered."},
        {1, "did not answer: "},
    };
    for (const auto& [row, expected] : cases) {
        list->setCurrentIndex(row);
        test->click();
        EXPECT_FALSE(test->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(test->isEnabled(), 30000);
        EXPECT_TRUE(result->text().contains(expected)) << result->text().toStdString();
    }
    EXPECT_GT(result->text().size(), QString("NOBODY at 127.0.0.1:1 did not answer: ").size());
}

// The browser's PACS page edits the servers only: the other settings stay as they were, a
// removed server leaves no trace, new servers start on port 104 and keep to 1..65535, and a
// stored port above 32767 survives a plain save.
TEST_F(Browser, PacsSettingsPageWritesOnlyTheServers)
{
    {
        DicomPluginSettings settings;
        settings.datasetCacheCapacity = 77;
        settings.exportQuality = 42;
        settings.save();
        settings.setPacsServers(
            {{"Old", "old.example", 104, "OLD", false}, {"Kept", "kept.example", 40000, "K", true}});
    }
    Dicom::SettingsWidget page(Dicom::SettingsWidget::PacsServers);
    page.loadSettings();
    auto* list = page.findChild<PropertiesListWidget*>();
    ASSERT_EQ(list->count(), 2);
    ASSERT_TRUE(list->removeEntry(0));
    ASSERT_TRUE(list->addEntry("New"));
    EXPECT_EQ(list->entries().back().param("pacsServerPort").toInt(), 104);
    for (const int port : {0, 65536})
        EXPECT_FALSE(list->entryEditor()->setValue("pacsServerPort", port)) << port;
    auto* port = qobject_cast<QSpinBox*>(list->entryEditor()->editor("pacsServerPort"));
    ASSERT_NE(port, nullptr);
    port->selectAll();
    QTest::keyClicks(port, "65535");
    port->interpretText();
    page.saveSettings();

    const DicomPluginSettings stored;
    EXPECT_EQ(stored.datasetCacheCapacity.value(), 77);
    EXPECT_EQ(stored.exportQuality.value(), 42);
    const auto servers = stored.pacsServers();
    ASSERT_EQ(servers.size(), 2u);
    EXPECT_EQ(servers[0], (DicomPluginSettings::PacsServer{"Kept", "kept.example", 40000, "K", true}));
    EXPECT_EQ(servers[1].name, "New");
    EXPECT_EQ(servers[1].port, 65535);
    for (const QString& key : QSettings().allKeys())
        EXPECT_FALSE(key.contains("/Old")) << key.toStdString();
}

namespace {

// The application window, recording what it is asked to run.
class RecordingWindow : public MainWindowBase
{
public:
    using MainWindowBase::MainWindowBase;
    void runAlgorithm(std::unique_ptr<Algorithm> algorithm) override
    {
        if (auto* io = dynamic_cast<IoAlgorithm*>(algorithm.get()))
            ran.push_back(QString::fromStdString(typeid(*io).name()) + "|" + io->location());
    }
    QStringList ran;
};

}  // namespace

// Inside the application the image row's menu opens the image with the DICOM file reader, and a
// raw buffer of the tag view opens with the raw reader; neither says "Not supported".
TEST_F(Browser, InTheApplicationImagesAndRawBuffersOpenInTheMainWindow)
{
    FactoryRegistry registry;
    auto factory = std::make_unique<AlgorithmFactory>(QStringLiteral("Dicom"));
    factory->registerAlgorithm<RawImageIoAlgorithm>(QStringLiteral("DicomIOAlgorithmFile"), QStringLiteral("File"),
                                                    QStringLiteral("io: read"));
    registry.addAlgorithmFactory(std::move(factory));
    RecordingWindow window(&registry);
    browser = std::make_unique<DicomBrowser>(cache, &window);
    // Gone before the window that parents it, also when a check below stops the test.
    const auto release = qScopeGuard([this] { browser.reset(); });
    scanFolder(generated(1, 1, 2));
    auto* view = child<QTreeView>("view");
    const QModelIndex image = view->model()->index(0, 0, seriesRows().front());
    ASSERT_TRUE(image.isValid());
    view->setCurrentIndex(image);
    const QString path = QFile::decodeName(
        image.data(DicomBrowserModel::ImageRole).value<Dicom::Image*>()->location.localFilePath().c_str());
    QStringList texts;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_TRUE(menu);
        for (QAction* action : menu->actions())
            if (!action->isSeparator())
                texts << action->text();
        for (QAction* action : menu->actions())
            if (action->text() == "Open Image")
                action->trigger();
        menu->close();
    });
    browser->openContextMenu(QPoint(10, 10));
    EXPECT_EQ(texts, QStringList(
                         {"Select All", "Select None", "Collapse All", "Expand All", "Copy Image Path", "Open Image"}));
    const QString reader = QString::fromStdString(typeid(RawImageIoAlgorithm).name());
    ASSERT_EQ(window.ran, QStringList(reader + "|" + path));

    MessageBoxes boxes;
    Q_EMIT child<Dicom::TagsWidget>("tagsWidget")->savedRawBuffer("/tmp/dicom123456");
    EXPECT_EQ(window.ran.value(1), reader + "|/tmp/dicom123456");
    EXPECT_TRUE(boxes.seen.isEmpty()) << boxes.seen.join('\n').toStdString();
}

// During a scan the tree is painted in steps (its updates are off between them); once the scan
// ends it paints freely again, or it would never show a change.
TEST_F(Browser, TreePaintsInStepsWhileScanningAndFreelyAfter)
{
    browser->show();
    auto* view = child<QTreeView>("view");
    std::vector<std::pair<bool, bool>> seen;  // (scanning, view updates enabled)
    QObject::connect(browser->browserModel(), &DicomBrowserModel::isScanningChanged, view,
                     [&](bool scanning) { seen.emplace_back(scanning, view->updatesEnabled()); });
    scanFolder(generated(2, 2, 3));
    EXPECT_EQ(seen, (std::vector<std::pair<bool, bool>>{{true, false}, {false, true}}));
    EXPECT_EQ(seriesRows().size(), 4u);
    EXPECT_TRUE(view->updatesEnabled());
}
