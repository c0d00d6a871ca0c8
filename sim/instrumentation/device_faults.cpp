// SPDX-License-Identifier: MIT
#include "device_faults.h"

namespace qelsim {
namespace {

bool take(unsigned &count)
{
    if (count == 0)
        return false;
    --count;
    return true;
}

} // namespace

void DeviceFaults::arm(DeviceFault kind, unsigned count)
{
    switch (kind) {
    case DeviceFault::flip: flip_ = count; break;
    case DeviceFault::setcrtc: setcrtc_ = count; break;
    case DeviceFault::getconnector: getconnector_ = count; break;
    case DeviceFault::createDumb: createDumb_ = count; break;
    case DeviceFault::createDumbNth: createDumbNth_ = count; break;
    case DeviceFault::master: masterHeldElsewhere_ = count != 0; break;
    }
}

void DeviceFaults::armFlipOnCrtc(size_t crtcIndex, unsigned count)
{
    flipOnCrtc_[crtcIndex] = count;
}

// A fault armed for every CRTC is used up first.
bool DeviceFaults::takeFlip(size_t crtcIndex)
{
    return take(flip_) || take(flipOnCrtc_[crtcIndex]);
}

bool DeviceFaults::takeSetCrtc()
{
    return take(setcrtc_);
}

bool DeviceFaults::takeGetConnector()
{
    return take(getconnector_);
}

bool DeviceFaults::takeCreateDumb()
{
    bool fail = take(createDumb_);
    if (createDumbNth_) {
        fail = fail || createDumbNth_ == 1;
        --createDumbNth_;
    }
    return fail;
}

} // namespace qelsim
