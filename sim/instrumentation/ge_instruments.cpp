// SPDX-License-Identifier: MIT
#include "ge_instruments.h"

#include "ge_submit_log.h"

namespace qelsim {

void GeInstruments::failSubmits(int err, unsigned count)
{
    std::lock_guard lock(mutex_);
    submitError_ = err;
    submitFaults_ = count;
}

void GeInstruments::failWaits(unsigned count)
{
    std::lock_guard lock(mutex_);
    waitFaults_ = count;
}

void GeInstruments::failRoomWaits(unsigned count)
{
    std::lock_guard lock(mutex_);
    roomWaitFaults_ = count;
}

void GeInstruments::setLogging(bool on)
{
    std::lock_guard lock(mutex_);
    logging_ = on;
}

void GeInstruments::clearLog()
{
    std::lock_guard lock(mutex_);
    log_.clear();
}

std::vector<std::string> GeInstruments::logLines() const
{
    std::lock_guard lock(mutex_);
    return log_;
}

void GeInstruments::reset()
{
    std::lock_guard lock(mutex_);
    submitFaults_ = 0;
    waitFaults_ = 0;
    roomWaitFaults_ = 0;
    logging_ = false;
    log_.clear();
}

int GeInstruments::submitFault()
{
    std::lock_guard lock(mutex_);
    if (submitFaults_ == 0)
        return 0;
    --submitFaults_;
    return submitError_;
}

bool GeInstruments::waitFault(bool forRoom)
{
    std::lock_guard lock(mutex_);
    unsigned *armed = waitFaults_ ? &waitFaults_ : forRoom ? &roomWaitFaults_ : nullptr;
    if (!armed || *armed == 0)
        return false;
    --*armed;
    return true;
}

void GeInstruments::submitReceived(const uapi::GeSubmitArgs &args,
                                   const std::vector<uapi::GeOp> &ops, bool opsRead)
{
    std::lock_guard lock(mutex_);
    if (logging_)
        log_.push_back(formatSubmitLine(args, ops, opsRead));
}

} // namespace qelsim
