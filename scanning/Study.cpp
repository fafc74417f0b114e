#include "scanning/Study.h"

#include "browser/models/QtHelpers.h"
#include "host/dicom/Element.h"
#include "scanning/PacsSeriesProxy.h"
#include "scanning/RecordTags.h"
#include "scanning/Series.h"

namespace Dravelin::Dicom {

Study::Study(Patient* patient) : patient(patient) {}

Study::Study(Patient* patient, DcmItem& item, bool withChildren) : patient(patient)
{
    const RecordTags& tags = RecordTags::get();
    QString uid = Element<QString>(item, tags.studyInstanceUid, ElementBase::Required, false).value(QString());
    QString id = Element<QString>(item, tags.studyId, ElementBase::Required, false).value(QString());
    const std::string time =
        Element<std::string>(item, tags.studyTime, ElementBase::Required, false).value(std::string());
    const std::string date =
        Element<std::string>(item, tags.studyDate, ElementBase::Required, false).value(std::string());
    QString description = Element<QString>(item, tags.studyDescription, ElementBase::Optional, false).value(QString());

    studyInstanceUid = std::move(uid);
    studyId = std::move(id);
    studyTime = QtHelpers::convertDICOMTime(time, nullptr);
    studyDate = QtHelpers::convertDICOMDate(date);
    studyDescription = std::move(description);

    if (withChildren)
        series.push_back(new Series(this, item, true));
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
