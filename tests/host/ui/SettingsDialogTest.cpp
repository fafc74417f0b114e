#include "host/app/FileDialogs.h"
#include "host/properties/Parameter.h"
#include "host/ui/LabeledSlider.h"
#include "host/ui/PropertiesWidget.h"
#include "host/ui/SettingsDialog.h"
#include "tests/support/TestEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QSettings>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

namespace Dravelin {
namespace {

class ViewerSettings : public PersistentSettings
{
public:
    ViewerSettings() : PersistentSettings(GlobalSettings::settingsName<ViewerSettings>()) { load(); }
    Parameter<int> zoom{"zoom", 100, this};
    Parameter<QString> title{"title", "Viewer", this};
};

class ViewerPage : public SettingsDialog::CustomSettingsWidget
{
public:
    explicit ViewerPage(QString caption = "Viewer") : m_editor(new PropertiesWidget(this)) { setWindowTitle(caption); }
    void configure(const Properties* p) override { m_editor->setProperties(p); }
    void configuration(Properties* p) const override { m_editor->configuration(p); }
    PropertiesWidget* m_editor;
};

class SettingsDialogTest : public ::testing::Test
{
protected:
    void SetUp() override { QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path()); }
    void TearDown() override
    {
        SettingsDialog::removeCustomSettingsWidget(GlobalSettings::settingsName<ViewerSettings>());
    }
    Dravelin::Test::TempDir m_dir;
};

TEST_F(SettingsDialogTest, OnePagePerKeyShowsTheStoredSettingsAndOkStoresTheEdits)
{
    const QString key = GlobalSettings::settingsName<ViewerSettings>();
    SettingsDialog::addCustomSettingsWidget<ViewerSettings, ViewerPage>(QString("First"));
    SettingsDialog::addCustomSettingsWidget<ViewerSettings, ViewerPage>(QString("Second"));
    EXPECT_EQ(SettingsDialog::m_customSettingsWidgetGenerators.count(key), 1u);

    SettingsDialog dialog;
    EXPECT_EQ(dialog.pageKeys().count(key), 1);
    auto* page = dynamic_cast<ViewerPage*>(dialog.page(key));
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->title(), "Second");
    EXPECT_EQ(page->m_editor->value("zoom"), QVariant(100));
    ASSERT_TRUE(page->m_editor->setValue("zoom", 250));
    EXPECT_EQ(ViewerSettings().zoom.value(), 100);  // nothing stored before Ok
    dialog.accept();
    EXPECT_EQ(ViewerSettings().zoom.value(), 250);
    EXPECT_EQ(ViewerSettings().title.value(), "Viewer");
}

TEST_F(SettingsDialogTest, SliderTextsFollowTheValueWhileItsSignalsAreBlocked)
{
    LabeledSlider slider(Qt::Horizontal, LabeledSlider::FrontLabel);
    slider.setFrontLabelFormat("Frame: {current} / {maximum}");
    QSignalSpy spy(&slider, &LabeledSlider::sliderValueChanged);
    {
        const QSignalBlocker blocker(&slider);
        slider.setRange(1, 12);
        slider.setValue(5);
    }
    EXPECT_EQ(slider.frontLabelText(), "Frame: 5 / 12");
    EXPECT_TRUE(spy.isEmpty());
    slider.setValue(7);
    ASSERT_EQ(spy.size(), 1);
    EXPECT_EQ(spy[0][0].toInt(), 7);
}

TEST_F(SettingsDialogTest, FileChoosersOpenInTheRememberedFolderAndKeepTheOptionsWidget)
{
    QDir(m_dir.path()).mkpath("first/second");
    const QString second = QDir(m_dir.path()).filePath("first/second");
    QWidget options;
    auto* child = new QWidget(&options);
    QString openedIn;
    auto pick = [&](const QString& path) {
        QTimer::singleShot(0, [&, path] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            openedIn = dialog->directory().absolutePath();
            dialog->selectFile(path);
            QMetaObject::invokeMethod(dialog, "accept");
        });
    };
    pick(second);
    EXPECT_EQ(QtHelpers::getExistingDirectory(nullptr, "test/folder", "Pick", m_dir.path(), child), second);
    EXPECT_EQ(child->parentWidget(), &options);
    pick(second);
    QtHelpers::getExistingDirectory(nullptr, "test/folder", "Pick");
    EXPECT_EQ(openedIn, second);
}

}  // namespace
}  // namespace Dravelin
