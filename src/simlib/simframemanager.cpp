#include "simlib/simframemanager.h"

#include <cstring>

#include "common/numeric.h"
#include "common/report.h"

namespace ts {

SimFrameManager::SimFrameManager() {
    // Frames move between these lists at rates set by thread timing: give
    // each room for every frame that can exist at once in steady use.
    for (auto* list : {&freeFrames_, &readyFrames_, &releasedFrames_, &processingFrames_, &doneFrames_})
        list->reserve(4 * MaxReadyFrames);
    CloseFrame();
}

void SimFrameManager::CloseFrame() {
    std::lock_guard<std::mutex> guard(lock_);
    if (currentFrame_) {
        if (readyFrames_.size() < MaxReadyFrames) {
            readyFrames_.push_back(std::move(currentFrame_));
        } else {
            // The backlog is full: the frame is taken straight back and later
            // messages join it.
            freeFrames_.push_back(std::move(currentFrame_));
        }
    }
    if (!freeFrames_.empty()) {
        currentFrame_ = std::move(freeFrames_.back());
        freeFrames_.pop_back();
    } else {
        currentFrame_ = std::make_unique<PendingFrame>();
    }
}

EnqueueResult SimFrameManager::EnqueueMessage(uint32_t id, const void* data, int32_t size) {
    const QueuedMessageInfo* queued = FindQueuedMessage(id);
    uint32_t required = 0;
    if (queued != nullptr) {
        required = queued->size;
    } else if (id == SIM_MSG_END_FRAME) {
        required = sizeof(EndFramePayload);
    } else if (id == SIM_MSG_SET_FRAME_PARAMETERS) {
        required = sizeof(SetFrameParametersPayload);
    } else {
        return EnqueueResult::NotHandled;
    }
    if (data == nullptr || size < 0 || static_cast<uint32_t>(size) < required) {
        TS_WARN("message 0x%08x refused: payload of %d bytes, %u needed", id, size, required);
        return EnqueueResult::Refused;
    }
    PendingFrame& frame = *currentFrame_;
    if (queued != nullptr) {
        frame.queue(queued->slot).Append(data, queued->size);
    } else if (id == SIM_MSG_SET_FRAME_PARAMETERS) {
        std::memcpy(&frame.frameParameters, data, sizeof frame.frameParameters);
        frame.hasFrameParameters = true;
    } else {
        EndFramePayload end;
        std::memcpy(&end, data, sizeof end);
        // A dt that is negative or not finite would not bound the steps: the
        // frame still closes, without physics.
        if (!(IsFinite(end.dt) && end.dt >= 0.0f)) {
            TS_WARN("EndFrame: dt %f refused (it must be finite and >= 0); the frame runs no physics",
                    double(end.dt));
            end.dt = 0.0f;
        }
        frame.dt = end.dt;
        // Host coordinates + 1 for the border, saturating: the region is clamped to the grid later.
        auto shift = [](int32_t v) { return v < INT32_MAX ? v + 1 : v; };
        const Region region{shift(end.minX), shift(end.minY), shift(end.maxX), shift(end.maxY)};
        frame.region = region;
        CloseFrame();
    }
    return EnqueueResult::Handled;
}

void SimFrameManager::ReleaseReadyFrames() {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& frame : readyFrames_) releasedFrames_.push_back(std::move(frame));
    readyFrames_.clear();
}

size_t SimFrameManager::TakeReadyFrames() {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& frame : doneFrames_) freeFrames_.push_back(std::move(frame));
    doneFrames_.clear();
    // Only frames handed over by an exchange: frames the host closes while a
    // cycle runs wait for the next one, so results never depend on timing.
    for (auto& frame : releasedFrames_) processingFrames_.push_back(std::move(frame));
    releasedFrames_.clear();
    return processingFrames_.size();
}

void SimFrameManager::RetireAppliedFrames() {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& frame : processingFrames_) doneFrames_.push_back(std::move(frame));
    processingFrames_.clear();
}

size_t SimFrameManager::readyCount() {
    std::lock_guard<std::mutex> guard(lock_);
    return readyFrames_.size();
}

}  // namespace ts
