#pragma once

#include "host/properties/Configurable.h"
#include "host/data/DataList.h"
#include "host/data/OwningDataList.h"

#include <QString>

namespace Dravelin {

class Progress;

// An operation the host runs on data: configured through its parameters, started with
// compute(), which leaves its outcome in status() and its results for takeOutput().
class Algorithm : public Configurable
{
public:
    enum Status : int {
        Unknown = -1,  // not computed yet
        Success = 0,
        Error = 1,
        InvalidInput = 2,
        OutOfMemory = 3,
        Incomplete = 4,  // cancelled or partly done
        FileNotFound = 5,
        UnsupportedFormat = 6,
        WriteFailed = 7,
        Cancelled = 8,  // the user dismissed the algorithm's dialog before it ran
    };

    // Where the algorithm came from: set by the factory that created it.
    struct FactoryInfo
    {
        QString id;     // full id, "<factory>.<id>"
        QString name;   // display name: the last piece of the menu path
        DataList data;  // the input it was created for
    };

    Algorithm() = default;
    ~Algorithm() override;

    virtual void compute() = 0;
    int status() const { return m_status; }
    // Controllers set it too, e.g. Cancelled when the user gave up before compute().
    void setStatus(int status) { m_status = status; }

    // The data produced by the last compute(); the caller owns it. Empty by default and after
    // a previous call.
    virtual OwningDataList takeOutput();

    const FactoryInfo& factoryInfo() const { return m_factoryInfo; }
    void setFactoryInfo(const FactoryInfo& info) { m_factoryInfo = info; }
    const QString& id() const { return m_factoryInfo.id; }
    const QString& name() const { return m_factoryInfo.name; }
    const DataList& input() const { return m_factoryInfo.data; }

    // Not owned; may be null.
    void setProgress(Progress* progress) { m_progress = progress; }
    Progress* progress() const { return m_progress; }

private:
    int m_status = Unknown;
    Progress* m_progress = nullptr;
    FactoryInfo m_factoryInfo;
};

}  // namespace Dravelin
