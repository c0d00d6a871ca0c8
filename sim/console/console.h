// SPDX-License-Identifier: MIT
// The Linux console as a display server uses it: virtual terminals 1 to 63,
// one of them in the foreground, and on each its switching mode (VT_AUTO,
// or VT_PROCESS with the signals that ask its process to release the VT and
// tell it that it has the VT again), its display mode (KD_TEXT,
// KD_GRAPHICS) and its keyboard mode. gettys hold VTs 1 to 6, VT 1 is in
// the foreground. A switch away from a VT in VT_PROCESS mode waits for its
// process's VT_RELDISP, as the kernel's vt driver does.
//
// The VT in VT_PROCESS mode of this process is the server's. Once it is
// released, DRM master and the displays are another client's
// (device/other_client.h); when it comes back, that client has gone.
//
// One mutex guards the console; it is taken before the device's, never
// after it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <linux/kd.h>
#include <linux/vt.h>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>

namespace qelsim {

constexpr int consoleCount = 63; // MAX_NR_CONSOLES

struct VirtualTerminal {
    int users = 0; // open files (a getty's counts)
    vt_mode mode{VT_AUTO, 0, 0, 0, 0};
    pid_t pid = 0;
    int newVt = 0; // the target of a switch that waits for VT_RELDISP; 0: none
    int displayMode = KD_TEXT;
    int keyboardMode = K_UNICODE;
};

// An open file of a VT node; dup()ed descriptors share it. /dev/tty0 is
// bound to the VT in the foreground when it is opened.
struct ConsoleFile {
    int vt = 0;
    unsigned minor = 0;
};
using ConsoleFileRef = std::shared_ptr<ConsoleFile>;

class Console {
public:
    // The process's console, made on first use; the device is made first,
    // so that fork() takes the two mutexes in their order.
    static Console &instance();
    // The console if some call has made it, else null.
    static Console *existing();

    // Back to the state at start; descriptors opened before stay open but
    // are no longer VT files.
    void reset();

    // /dev/tty0 (minor 0) and /dev/tty1 to /dev/tty63.
    static bool isNodePath(const char *path, unsigned &minor);
    // An open(2) of the node: the descriptor, or -1 with errno set.
    int open(unsigned minor, int flags);
    bool minorOfFd(int fd, unsigned &minor);
    void forget(int fd);
    void share(int oldFd, int newFd);
    // The console's ioctls (types 'V' and 'K'); false for any other
    // descriptor or request.
    bool ioctl(int fd, unsigned long request, void *arg, int &result);

    // The `vt` control request.
    struct State {
        int active = 0;
        int server = 0; // 0: no VT in VT_PROCESS mode of this process
    };
    State state();
    // Switches the foreground to VT and waits, up to TIMEOUT each, for the
    // release of a VT in VT_PROCESS mode and for the server's acknowledgement
    // when it gets its VT back. Empty when it went as it should, else why
    // not (a switch that waits for VT_RELDISP still waits after that).
    std::string switchTo(int vt, std::chrono::milliseconds timeout);

private:
    Console();
    void resetLocked();
    bool isServers(int vt) const;
    void changeTo(int vt);
    void complete(int vt);
    void resetVt(int vt);
    bool raise(int vt, int signal);
    int vtIoctl(ConsoleFile &file, unsigned long request, void *arg,
                std::unique_lock<std::mutex> &lock);
    int kdIoctl(ConsoleFile &file, unsigned long request, void *arg);
    int releaseDisplay(ConsoleFile &file, unsigned long how);
    std::string awaitRelease(int from, int to, std::chrono::milliseconds timeout,
                             std::unique_lock<std::mutex> &lock);

    std::mutex mutex_;
    std::condition_variable changed_;
    VirtualTerminal vts_[consoleCount + 1]; // by number; [0] unused
    int foreground_ = 1;
    bool acquireAcknowledged_ = false;
    bool masterKept_ = false;             // the last release left DRM master to the server
    std::map<int, ConsoleFileRef> files_; // by descriptor

    friend void lockConsoleForFork();
    friend void unlockConsoleAfterFork();
};

} // namespace qelsim
