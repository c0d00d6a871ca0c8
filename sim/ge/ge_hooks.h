// SPDX-License-Identifier: MIT
// Where test instrumentation attaches to the engine: failures armed for the
// next calls, and a look at every submit as it was received. The engine
// runs the same without hooks; sim/instrumentation provides them.
#pragma once

#include "ge_uapi.h"

#include <vector>

namespace qelsim {

// Called from the thread making the ioctl, without the engine's lock held:
// an implementation guards its own state and never calls the engine.
class GeHooks {
public:
    virtual ~GeHooks() = default;

    // A positive errno this submit fails with before anything is checked,
    // or 0.
    virtual int submitFault() = 0;
    // Whether this wait times out at once, without blocking; `forRoom`: it
    // waits for room in the queue (seqno 0), not for a batch.
    virtual bool waitFault(bool forRoom) = 0;

    // Every submit, before it is checked: the record and the operations as
    // copied in. `ops` is empty when the array was not read (count out of
    // range or the address unreadable); `opsRead` tells the two apart from
    // an empty array.
    virtual void submitReceived(const uapi::GeSubmitArgs &args, const std::vector<uapi::GeOp> &ops,
                                bool opsRead) = 0;
};

} // namespace qelsim
