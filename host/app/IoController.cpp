#include "host/app/IoController.h"

#include "host/app/ApplicationController.h"
#include "host/app/FileDialogs.h"
#include "host/app/IoAlgorithm.h"
#include "host/core/Log.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>

namespace Dravelin {

IoController::IoController(IoAlgorithm* algorithm, bool multipleSelection, bool showPanel)
    : AlgorithmController(algorithm), m_io(algorithm), m_multipleSelection(multipleSelection), m_showPanel(showPanel)
{
}

IoController::IoController(Algorithm* algorithm, bool multipleSelection, bool showPanel)
    : AlgorithmController(algorithm), m_io(nullptr), m_multipleSelection(multipleSelection), m_showPanel(showPanel)
{
}

IoController::~IoController() = default;

QString IoController::fileFilter(const QString& name, const QStringList& extensions)
{
    QStringList patterns;
    for (const QString& e : extensions)
        patterns << (e.isEmpty() ? QStringLiteral("*") : QStringLiteral("*.%1").arg(e));
    patterns.removeDuplicates();
    const QString all = tr("All files (*)");
    if (patterns.isEmpty())
        return all;
    return QStringLiteral("%1 (%2);;%3").arg(name, patterns.join(QLatin1Char(' ')), all);
}

QString IoController::dialogKey() const
{
    return QStringLiteral("IoController/%1/%2")
        .arg(m_io ? m_io->id() : QString(), m_io && m_io->ioMode() == IoAlgorithm::Write ? "save" : "open");
}

int IoController::readLocations(const QStringList& locations)
{
    int succeeded = 0;
    for (const QString& location : locations) {
        m_io->setLocation(location);
        m_io->compute();
        if (m_io->status() != Algorithm::Success) {
            DRAVELIN_LOG(3, "IoController",
                         QStringLiteral("Could not read %1 (status %2)").arg(location).arg(m_io->status()));
            continue;
        }
        ++succeeded;
        Properties config(QStringLiteral("Config"));
        m_io->configuration(&config);
        ApplicationController* app = applicationController();
        if (app)
            app->addRecentFile(location, m_io->id(), config);
        const std::vector<Data*> added = addToDataAndAnnotationModels(m_io->takeOutput());
        if (app)
            app->nameRecentFile(location, m_io->id(), added);
    }
    return succeeded;
}

void IoController::run()
{
    if (!m_io) {
        closeAlgorithm(false);
        return;
    }
    QWidget* parent = mainWidget();
    const QString filter = fileFilter(m_io->name(), m_io->extensions());

    if (m_io->ioMode() == IoAlgorithm::Write) {
        QString path = m_io->location();
        if (path.isEmpty()) {
            path = QFileDialog::getSaveFileName(parent, tr("Save data"), QtHelpers::rememberedDirectory(dialogKey()),
                                                filter);
            if (!path.isEmpty())
                QSettings().setValue(dialogKey(), QFileInfo(path).absolutePath());
        }
        if (path.isEmpty()) {
            closeAlgorithm(false);
            return;
        }
        m_io->setLocation(path);
        m_io->compute();
        if (m_io->status() != Algorithm::Success) {
            DRAVELIN_LOG(4, "IoController",
                         QStringLiteral("Could not write %1 (status %2)").arg(path).arg(m_io->status()));
            if (parent)
                QMessageBox::warning(parent, tr("Save data"), tr("Could not save data"));
        }
        closeAlgorithm(true);
        return;
    }

    QStringList locations;
    if (!m_io->location().isEmpty()) {
        locations << m_io->location();
    } else {
        const QString dir = QtHelpers::rememberedDirectory(dialogKey());
        if (m_multipleSelection)
            locations = QFileDialog::getOpenFileNames(parent, tr("Load data"), dir, filter);
        else if (QString file = QFileDialog::getOpenFileName(parent, tr("Load data"), dir, filter); !file.isEmpty())
            locations << file;
        if (!locations.isEmpty())
            QSettings().setValue(dialogKey(), QFileInfo(locations.front()).absolutePath());
    }
    if (locations.isEmpty()) {
        closeAlgorithm(false);
        return;
    }
    if (readLocations(locations) == 0 && parent)
        QMessageBox::information(parent, tr("Load data"), tr("Could not load data"));
    closeAlgorithm(true);
}

}  // namespace Dravelin

#include "moc_IoController.cpp"
