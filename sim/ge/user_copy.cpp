// SPDX-License-Identifier: MIT
#include "user_copy.h"

#include <cerrno>
#include <cstring>
#include <sys/uio.h>
#include <unistd.h>

namespace qelsim {
namespace {

// The kernel checks the address range for us: process_vm_readv/writev on
// our own pid reports EFAULT for unmapped or inaccessible memory.
// Where a sandbox forbids those calls, fall back to a plain copy.
bool syscallUnavailable(int err)
{
    return err == ENOSYS || err == EPERM;
}

bool addressFits(uint64_t address, size_t size)
{
    return address != 0 && address <= UINTPTR_MAX && size <= UINTPTR_MAX - address;
}

} // namespace

bool copyFromUser(void *to, uint64_t fromAddress, size_t size)
{
    if (size == 0)
        return true;
    if (!addressFits(fromAddress, size))
        return false;
    void *from = reinterpret_cast<void *>(static_cast<uintptr_t>(fromAddress));
    iovec local{to, size};
    iovec remote{from, size};
    ssize_t done = process_vm_readv(getpid(), &local, 1, &remote, 1, 0);
    if (done < 0 && syscallUnavailable(errno)) {
        std::memcpy(to, from, size);
        return true;
    }
    return done == static_cast<ssize_t>(size);
}

bool copyToUser(uint64_t toAddress, const void *from, size_t size)
{
    if (size == 0)
        return true;
    if (!addressFits(toAddress, size))
        return false;
    void *to = reinterpret_cast<void *>(static_cast<uintptr_t>(toAddress));
    iovec local{const_cast<void *>(from), size};
    iovec remote{to, size};
    ssize_t done = process_vm_writev(getpid(), &local, 1, &remote, 1, 0);
    if (done < 0 && syscallUnavailable(errno)) {
        std::memcpy(to, from, size);
        return true;
    }
    return done == static_cast<ssize_t>(size);
}

} // namespace qelsim
