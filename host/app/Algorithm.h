#pragma once

#include "host/app/Configurable.h"

namespace Dravelin {

class Progress;

// An operation the host runs on data: configured through its parameters, started with
// compute(), which leaves its outcome in status().
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
    };

    Algorithm() = default;
    ~Algorithm() override;

    virtual void compute() = 0;
    int status() const { return m_status; }

    // Not owned; may be null.
    void setProgress(Progress* progress) { m_progress = progress; }
    Progress* progress() const { return m_progress; }

protected:
    void setStatus(int status) { m_status = status; }

private:
    int m_status = Unknown;
    Progress* m_progress = nullptr;
};

}  // namespace Dravelin
