#include "host/app/SettingsWriter.h"

#include <QSettings>

namespace Dravelin {

SettingsWriter::SettingsWriter()
{
    m_thread.setObjectName(QStringLiteral("SettingsWriter"));
    m_thread.start();
}

SettingsWriter::~SettingsWriter()
{
    // A finishing thread deletes the objects waiting for it, and a QSettings writes when deleted.
    m_thread.quit();
    m_thread.wait();
}

void SettingsWriter::write(std::unique_ptr<QSettings> settings)
{
    if (!settings)
        return;
    // Moved with its pending write request: the file is written in the writer's thread, when
    // the request or the deletion comes first.
    QSettings* moved = settings.release();
    moved->moveToThread(&m_thread);
    moved->deleteLater();
}

}  // namespace Dravelin
