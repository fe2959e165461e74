// ExchangeFrame: the host trades result buffers with the sim thread and
// releases its next cycle.
#include <cstring>

#include "common/report.h"
#include "hostapi/handlers.h"
#include "hostapi/runtime.h"

namespace ts {

uint64_t HandleExchangeFrame(BinaryBufferReader& reader) {
    Runtime& rt = GetRuntime();
    if (!rt.simThread) return 0;
    SimThread& thread = *rt.simThread;
    // Buffers without a thread (its restart failed): nobody would ever publish.
    if (rt.exchange.started() && !thread.IsRunning()) {
        TS_WARN("ExchangeFrame refused: the simulation thread is not running");
        return 0;
    }
    const bool exchanged = rt.exchange.SubmitToSimThread([&](GameData&, GameData& finished) {
        const uint64_t expected = finished.cellCount();
        // A grid of the wrong size is not copied, but the exchange still
        // happens so the host never waits forever.
        if (TS_CHECK_AS(reader.remaining() == expected, "size == gameWidth * gameHeight"))
            reader.ReadBytes(finished.hostCellInput.data(), expected);
        // The released cycle applies exactly the frames closed before now.
        thread.ReleaseClosedFrames();
    });
    if (!exchanged) return 0;
    return reinterpret_cast<uint64_t>(BuildFrameResults(*rt.exchange.HostReadBuffer(), rt.frameResults));
}

}  // namespace ts
