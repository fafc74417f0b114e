#pragma once

#include "scanning/Scanner.h"

#include <QObject>

#include <atomic>

namespace Dravelin::Dicom {

// The scanner the browser model drives: patients are queued unmerged for the receiver (which
// takes them with takePatients on its own thread) and the hooks become signals. Signals are
// emitted from worker threads; connect with queued connections.
class ScannerQt : public QObject, public Scanner
{
    Q_OBJECT

public:
    explicit ScannerQt(std::shared_ptr<DatasetCache> cache);
    ~ScannerQt() override;

    void addPatient(Patient* patient) override;
    void removePacsProxy(PacsSeriesProxy* proxy) override;

signals:
    void patientAdded();
    void pacsProxyRemoved(PacsSeriesProxy* proxy);
    void progressRangeChanged(int min, int max);
    void progressValueChanged(int value);
    void progressTextChanged(QString text);

protected:
    void updateProgress(int value, int maximum) override;
    void updateProgressText(const std::string& text) override;

private:
    // The last progress step signalled, of kProgressSteps, and the maximum it was of.
    static constexpr int kProgressSteps = 512;
    std::atomic<int> m_progressStep{-1};
    std::atomic<int> m_progressMaximum{-1};
};

}  // namespace Dravelin::Dicom
