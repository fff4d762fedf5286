// One running program per user: the first instance holds a lock file in the
// runtime folder and listens on a local socket beside it; a later instance
// finds the lock taken, asks the first one over the socket to raise its
// window, and ends.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "platform/text.h"

namespace plat {

class SingleInstance {
public:
    // Called on the listener thread each time a later instance asks the
    // first one to show itself. It must not block: the receiver posts the
    // request to its UI thread (Release waits for a running call to end).
    using RaiseCallback = std::function<void()>;

    // folder: where the lock file and the socket live; the default is
    // VendorSubdir(RuntimeDir()).
    explicit SingleInstance(WString folder = WString());
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True: this is the first instance; it now holds the lock and calls
    // onRaise for every request. False: another instance holds the lock;
    // it has been asked to raise its window (RaiseSent tells whether it
    // answered). When no lock can be had at all (the folder cannot be
    // written), the program runs as the first instance without listening.
    bool Acquire(RaiseCallback onRaise);

    bool IsFirst() const { return first_; }
    bool RaiseSent() const { return raiseSent_; }

    // Ends listening and releases the lock (also done by the destructor).
    void Release();

    // Asks the instance that listens in `folder` to raise its window; true
    // when it answered. Waits at most timeoutMs.
    static bool SendRaise(const WString& folder, int timeoutMs = 2000);

private:
    void Listen();

    WString folder_;
    std::string lockPath_;
    std::string socketPath_;
    int lockFd_ = -1;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    bool first_ = false;
    bool raiseSent_ = false;
    RaiseCallback onRaise_;
    std::thread listener_;
};

}  // namespace plat
