#include "scanning/Study.h"

#include "browser/models/QtHelpers.h"
#include "host/dicom/Element.h"
#include "scanning/RecordElements.h"
#include "scanning/PacsSeriesProxy.h"
#include "scanning/RecordTags.h"
#include "scanning/Series.h"

namespace Dravelin::Dicom {

Study::Study(Patient* patient) : patient(patient) {}

Study::Study(Patient* patient, DcmItem& item, bool withChildren) : Study(patient, RecordElements(item), withChildren) {}

Study::Study(Patient* patient, const RecordElements& fields, bool withChildren) : patient(patient)
{
    const RecordTags& tags = RecordTags::get();
    QString uid = fields.value<QString>(tags.studyInstanceUid, ElementBase::Required, false, QString());
    QString id = fields.value<QString>(tags.studyId, ElementBase::Required, false, QString());
    const std::string time = fields.value<std::string>(tags.studyTime, ElementBase::Required, false, std::string());
    const std::string date = fields.value<std::string>(tags.studyDate, ElementBase::Required, false, std::string());
    QString description = fields.value<QString>(tags.studyDescription, ElementBase::Optional, false, QString());

    studyInstanceUid = std::move(uid);
    studyId = std::move(id);
    studyTime = QtHelpers::convertDICOMTime(time, nullptr);
    studyDate = QtHelpers::convertDICOMDate(date);
    studyDescription = std::move(description);

    if (withChildren)
        series.push_back(new Series(this, fields, true));
}

Study::Study(const Study& other)
    : Base(),
      studyInstanceUid(other.studyInstanceUid),
      studyId(other.studyId),
      studyTime(other.studyTime),
      studyDate(other.studyDate),
      studyDescription(other.studyDescription)
{
}

Study::~Study()
{
    for (Series* s : series)
        delete s;
    delete pacsSeriesProxy;
}

}  // namespace Dravelin::Dicom
