#include "scanning/Patient.h"

#include "browser/models/QtHelpers.h"
#include "host/dicom/Element.h"
#include "scanning/RecordTags.h"
#include "scanning/Study.h"

namespace Dravelin::Dicom {

Patient::Patient(DcmItem& item, bool withChildren)
{
    const RecordTags& tags = RecordTags::get();
    QString id = Element<QString>(item, tags.patientId, ElementBase::Required, false).value(QString());
    QString name = Element<QString>(item, tags.patientName, ElementBase::Required, false).value(QString());
    const QString sexCode =
        Element<QString>(item, tags.patientSex, ElementBase::Required, false).value(QStringLiteral("O"));
    const std::string birth =
        Element<std::string>(item, tags.patientBirthDate, ElementBase::Required, false).value(std::string());
    QString comments = Element<QString>(item, tags.patientComments, ElementBase::Optional, false).value(QString());

    patientId = std::move(id);
    patientName = std::move(name);
    sex = QtHelpers::convertDICOMSex(sexCode);
    birthDate = QtHelpers::convertDICOMDate(birth);
    comment = std::move(comments);

    if (withChildren)
        studies.push_back(new Study(this, item, true));
}

Patient::Patient(const Patient& other)
    : Base(),
      patientId(other.patientId),
      patientName(other.patientName),
      sex(other.sex),
      birthDate(other.birthDate),
      comment(other.comment)
{
}

Patient::~Patient()
{
    for (Study* study : studies)
        delete study;
}

}  // namespace Dravelin::Dicom
