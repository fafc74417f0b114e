#pragma once

#include "scanning/Base.h"

#include <QDate>
#include <QString>
#include <QTime>

#include <vector>

class DcmItem;

namespace Dravelin::Dicom {

class Patient;
class RecordElements;
class Series;
class PacsSeriesProxy;

class Study : public Base
{
public:
    explicit Study(Patient* patient);
    Study(Patient* patient, DcmItem& item, bool withChildren);
    Study(Patient* patient, const RecordElements& fields, bool withChildren);
    Study(const Study& other);  // the five value fields; no parent, series or placeholder
    Study& operator=(const Study&) = delete;
    ~Study() override;

    Patient* patient = nullptr;  // not owned
    QString studyInstanceUid;
    QString studyId;
    QTime studyTime;
    QDate studyDate;
    QString studyDescription;
    std::vector<Series*> series;                 // owned
    PacsSeriesProxy* pacsSeriesProxy = nullptr;  // owned, nullable
};

}  // namespace Dravelin::Dicom
