#include "scanning/Patient.h"

#include "browser/models/QtHelpers.h"
#include "host/dicom/Element.h"
#include "scanning/RecordElements.h"
#include "scanning/RecordTags.h"
#include "scanning/Study.h"

namespace Dravelin::Dicom {

Patient::Patient(DcmItem& item, bool withChildren) : Patient(RecordElements(item), withChildren) {}

Patient::Patient(const RecordElements& fields, bool withChildren)
{
    const RecordTags& tags = RecordTags::get();
    QString id = fields.value<QString>(tags.patientId, ElementBase::Required, false, QString());
    QString name = fields.value<QString>(tags.patientName, ElementBase::Required, false, QString());
    const QString sexCode = fields.value<QString>(tags.patientSex, ElementBase::Required, false, QStringLiteral("O"));
    const std::string birth =
        fields.value<std::string>(tags.patientBirthDate, ElementBase::Required, false, std::string());
    QString comments = fields.value<QString>(tags.patientComments, ElementBase::Optional, false, QString());

    patientId = std::move(id);
    patientName = std::move(name);
    sex = QtHelpers::convertDICOMSex(sexCode);
    birthDate = QtHelpers::convertDICOMDate(birth);
    comment = std::move(comments);

    if (withChildren)
        studies.push_back(new Study(this, fields, true));
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
