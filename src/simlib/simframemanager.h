// Frames of queued messages: the host fills the current frame, EndFrame closes
// it, and the sim thread takes the closed frames, applies them and hands them
// back for reuse.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "simlib/components/floodfill.h"
#include "simlib/messagequeues.h"
#include "simlib/world.h"
#include "tesselsim/tesselsim.h"

namespace ts {

struct PendingFrame {
    float dt = 0.0f;
    std::array<MessageQueue, kQueueCount> queues;
    SetFrameParametersPayload frameParameters{};
    // False until a SetFrameParameters arrives: the world then keeps its own.
    bool hasFrameParameters = false;
    // The active region of the EndFrame that closed this frame (sim
    // coordinates, already shifted by the border).
    Region region;

    MessageQueue& queue(QueueSlot slot) { return queues[slot]; }
};

enum class EnqueueResult : uint8_t {
    NotHandled,  // neither queued nor frame-direct
    Handled,
    Refused,  // a queued or frame-direct id whose payload is too short
};

class SimFrameManager {
public:
    static constexpr size_t MaxReadyFrames = 30;

    SimFrameManager();

    // Host thread: queued and frame-direct messages.
    EnqueueResult EnqueueMessage(uint32_t id, const void* data, int32_t size);
    void CloseFrame();

    // Host thread, while the sim thread is parked: the frames closed so far
    // become the next cycle's frames.
    void ReleaseReadyFrames();

    // Sim thread: takes the released frames, in the order they were closed;
    // the cycle applies each (ApplyPendingFrame), then retires them all.
    size_t TakeReadyFrames();
    PendingFrame& takenFrame(size_t i) { return *processingFrames_[i]; }
    void RetireAppliedFrames();

    // Inspection (tests, tools).
    size_t readyCount();
    PendingFrame& currentFrame() { return *currentFrame_; }

private:
    std::mutex lock_;
    std::unique_ptr<PendingFrame> currentFrame_;
    std::vector<std::unique_ptr<PendingFrame>> freeFrames_;
    std::vector<std::unique_ptr<PendingFrame>> readyFrames_;
    std::vector<std::unique_ptr<PendingFrame>> releasedFrames_;
    std::vector<std::unique_ptr<PendingFrame>> processingFrames_;
    std::vector<std::unique_ptr<PendingFrame>> doneFrames_;
};

// Applies the frame's queued messages to the world in the fixed order of
// message kinds (emptying its queues), installs its parameters and region, and
// returns its dt. `fill` is the scratch of ConsumeMass.
float ApplyPendingFrame(World& world, PendingFrame& frame, FloodFill& fill);

// Host cell modifications (ModifyCell messages), in arrival order; empties the queue.
void ApplyCellModifications(World& world, MessageQueue& queue);
// Component messages: adds, modifications and removes of every component; empties their queues.
void ApplyComponentMessages(World& world, PendingFrame& frame);

}  // namespace ts
