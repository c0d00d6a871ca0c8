// SPDX-License-Identifier: MIT
#include "quiet_thread.h"

#include "reentry_guard.h"

#include <csignal>
#include <pthread.h>

namespace qelsim {

std::thread startQuietThread(std::function<void()> body)
{
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    std::thread thread([body = std::move(body)] {
        ReentryGuard inside;
        body();
    });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return thread;
}

} // namespace qelsim
