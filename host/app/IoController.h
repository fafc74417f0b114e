#pragma once

#include "host/app/AlgorithmController.h"

#include <QObject>
#include <QStringList>

namespace Dravelin {

class IoAlgorithm;

// The controller of reading and writing algorithms. The application calls run() after init().
// The default flow asks for a location when the algorithm has none (one or several files to
// read, a file to write), runs the algorithm for each location, adds what was read to the data
// model, and closes. Format plug-ins derive from it for their own dialogs.
class IoController : public QObject, public AlgorithmController
{
    Q_OBJECT
public:
    // `multipleSelection`: the reading dialog accepts several files. `showPanel`: the
    // application shows a panel for the controller (most IO controllers work through dialogs).
    IoController(IoAlgorithm* algorithm, bool multipleSelection = false, bool showPanel = false);
    ~IoController() override;

    IoAlgorithm* ioAlgorithm() const { return m_io; }
    bool multipleSelection() const { return m_multipleSelection; }
    void setMultipleSelection(bool multiple) { m_multipleSelection = multiple; }
    bool showsPanel() const { return m_showPanel; }

    // "<name> (*.a *.b);;All files (*)", or "All files (*)" without extensions.
    static QString fileFilter(const QString& name, const QStringList& extensions);

public slots:
    virtual void run();

protected:
    // For readers and writers that are plain Algorithms with an IO interface of their own (the
    // DICOM ones): the default run() has nothing to work with and closes at once.
    IoController(Algorithm* algorithm, bool multipleSelection, bool showPanel);

    // Reads each location in turn; returns how many succeeded. Failures are logged.
    int readLocations(const QStringList& locations);
    // The settings key under which the file dialogs remember their folder.
    QString dialogKey() const;

private:
    IoAlgorithm* m_io;
    bool m_multipleSelection;
    bool m_showPanel;
};

}  // namespace Dravelin
