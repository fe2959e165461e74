// The simulation thread and its handshake with the host.
#pragma once

#include <mutex>

#include "simlib/simframemanager.h"

namespace ts {

// The handshake between the host thread and the sim thread.
class HostExchange {
public:
    // Held by the sim thread for each whole cycle.
    std::mutex cycleLock;

    // Destroys both result buffers and clears the handshake flags.
    void Reset() {}
};

class SimThread {
public:
    explicit SimThread(HostExchange& exchange) : exchange_(exchange) {}

    SimFrameManager& frameManager() { return frameManager_; }
    HostExchange& exchange() { return exchange_; }
    bool IsRunning() const { return false; }
    // Hands a running thread a stop request and joins it.
    void StopAndJoin() {}

private:
    SimFrameManager frameManager_;
    HostExchange& exchange_;
};

}  // namespace ts
