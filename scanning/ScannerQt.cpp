#include "scanning/ScannerQt.h"

#include "scanning/Patient.h"

namespace Dravelin::Dicom {

ScannerQt::ScannerQt(std::shared_ptr<DatasetCache> cache) : QObject(nullptr), Scanner(std::move(cache)) {}

ScannerQt::~ScannerQt() = default;

void ScannerQt::addPatient(Patient* patient)
{
    queuePatient(patient);
    emit patientAdded();
}

void ScannerQt::removePacsProxy(PacsSeriesProxy* proxy)
{
    emit pacsProxyRemoved(proxy);
}

void ScannerQt::updateProgress(int value, int maximum)
{
    // Each signal crosses to the receiver's thread as a queued event: one per file cost the
    // scan of a large folder some 5% of its time for steps no progress bar can show.
    const int step = maximum > 0 ? static_cast<int>(static_cast<long long>(value) * kProgressSteps / maximum) : 0;
    const bool newRange = m_progressMaximum.exchange(maximum) != maximum;
    if (m_progressStep.exchange(step) == step && !newRange && value != 0 && value < maximum)
        return;
    emit progressRangeChanged(0, maximum);
    emit progressValueChanged(value);
}

void ScannerQt::updateProgressText(const std::string& text)
{
    emit progressTextChanged(QString::fromStdString(text));
}

}  // namespace Dravelin::Dicom

#include "moc_ScannerQt.cpp"
