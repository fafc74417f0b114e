#pragma once

#include "scanning/Base.h"

#include <QDate>
#include <QString>

#include <vector>

class DcmItem;

namespace Dravelin::Dicom {

class RecordElements;
class Study;

class Patient : public Base
{
public:
    Patient(DcmItem& item, bool withChildren);
    Patient(const RecordElements& fields, bool withChildren);
    Patient(const Patient& other);  // the five value fields; no studies
    Patient& operator=(const Patient&) = delete;
    ~Patient() override;

    QString patientId;
    QString patientName;  // raw, components separated by "^"
    QString sex;          // display text
    QDate birthDate;
    QString comment;
    std::vector<Study*> studies;  // owned, in order of arrival
};

}  // namespace Dravelin::Dicom
