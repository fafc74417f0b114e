#include "host/app/SettingsWriter.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>
#include <QSettings>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace Dravelin {
namespace {

// What is handed to the writer is in the file once the writer is gone, written by its thread (a
// finishing thread deletes what waits, and a QSettings writes when deleted). No settings object
// is made here meanwhile: a new one would write what is pending itself.
TEST(SettingsWriter, WritesWhatItIsHandedInItsThread)
{
    Dravelin::Test::TempDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    const QString file = QSettings().fileName();
    std::optional<SettingsWriter> writer(std::in_place);
    for (int i = 0; i < 3; ++i) {
        auto settings = std::make_unique<QSettings>();
        settings->setValue("writer/count", i);
        writer->write(std::move(settings));
    }
    writer.reset();
    QFile written(file);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly)) << file.toStdString();
    EXPECT_TRUE(written.readAll().contains("count=2"));
}

}  // namespace
}  // namespace Dravelin
