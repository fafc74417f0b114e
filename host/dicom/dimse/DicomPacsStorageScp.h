#pragma once

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmnet/scp.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Dravelin {

// A storage SCP that receives the C-STORE sub-operations of one C-MOVE into memory.
// start() binds the port on the calling thread (so the server can connect as soon as the
// C-MOVE is sent) and accepts associations on a thread of its own until stop().
class DicomPacsStorageScp : public DcmSCP
{
public:
    DicomPacsStorageScp(const std::string& aeTitle, int port, int dimseTimeoutSeconds);
    ~DicomPacsStorageScp() override;

    OFCondition start();
    // Waits for the association in progress (if any) to end; at most about one second more.
    void stop();
    std::vector<std::unique_ptr<DcmDataset>> takeDatasets();

protected:
    OFCondition handleIncomingCommand(T_DIMSE_Message* incomingMsg,
                                      const DcmPresentationContextInfo& presInfo) override;
    OFBool stopAfterCurrentAssociation() override { return m_stop.load(); }
    OFBool stopAfterConnectionTimeout() override { return m_stop.load(); }

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<DcmDataset>> m_datasets;
};

}  // namespace Dravelin
