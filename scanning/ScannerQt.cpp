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
    emit progressRangeChanged(0, maximum);
    emit progressValueChanged(value);
}

void ScannerQt::updateProgressText(const std::string& text)
{
    emit progressTextChanged(QString::fromStdString(text));
}

}  // namespace Dravelin::Dicom

#include "moc_ScannerQt.cpp"
