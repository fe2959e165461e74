// Dense records addressed by versioned handles: the storage of every
// component and of the conduit manager.
#pragma once

#include <cstdint>
#include <vector>

#include "common/report.h"
#include "tesselsim/tesselsim.h"

namespace ts {

// A ComponentHandle: slot index in bits 0-23, the slot's version in bits 24-31.
namespace handle {
constexpr uint32_t kIndexMask = 0x00FFFFFFu;
// Slots at or beyond this index are never live.
constexpr uint32_t kMaxSlots = 0x100000u;
// What a removal hands back.
constexpr uint32_t kRemoved = 0x00FFFFFFu;

constexpr uint32_t Index(uint32_t h) { return h & kIndexMask; }
constexpr uint32_t Version(uint32_t h) { return h >> 24; }
constexpr uint32_t Make(uint32_t index, uint32_t version) { return (version << 24) | (index & kIndexMask); }
}  // namespace handle

template <class Record>
class ComponentManager {
public:
    virtual ~ComponentManager() = default;

    // Stores the record and returns its handle; a freed slot is reused with
    // the version its removal gave it.
    uint32_t Add(const Record& record) {
        uint32_t h = SIM_NO_HANDLE;
        if (!freeHandles.empty()) {
            h = freeHandles.back();
            freeHandles.pop_back();
            slotToDense[handle::Index(h)] = uint32_t(records.size());
        } else {
            // A slot beyond the live range could never be removed again.
            if (slotToDense.size() >= handle::kMaxSlots) {
                TS_WARN("component add refused: all %u slots are in use", handle::kMaxSlots);
                return SIM_NO_HANDLE;
            }
            versions.push_back(0);
            h = handle::Make(uint32_t(slotToDense.size()), 0);
            slotToDense.push_back(uint32_t(records.size()));
        }
        handles.push_back(h);
        records.push_back(record);
        return h;
    }

    // Releases the record of a live handle; the last record fills its place.
    // A handle that is not live is refused with a report (moving records on
    // the word of a stale handle would release someone else's record).
    uint32_t Remove(uint32_t h) {
        if (handle::Index(h) >= handle::kMaxSlots) return h;
        if (!IsLive(h)) {
            TS_WARN("component remove refused: handle 0x%08x is not live (version %u, index %u of %zu slots)", h,
                    handle::Version(h), handle::Index(h), versions.size());
            return h;
        }
        const uint32_t index = handle::Index(h);
        const uint8_t v = uint8_t(handle::Version(h) + 1);
        versions[index] = v;
        freeHandles.push_back(handle::Make(index, v));
        const uint32_t d = slotToDense[index];
        slotToDense[index] = 0;
        const uint32_t last = uint32_t(records.size() - 1);
        if (d != last) {
            records[d] = records[last];
            handles[d] = handles[last];
            slotToDense[handle::Index(handles[d])] = d;
        }
        records.pop_back();
        handles.pop_back();
        return handle::kRemoved;
    }

    // Live only while the slot holds a record issued with exactly this handle:
    // a freed slot already carries its next version, which is not issued yet.
    bool IsLive(uint32_t h) const {
        const uint32_t index = handle::Index(h);
        if (index >= handle::kMaxSlots || index >= versions.size() || versions[index] != handle::Version(h))
            return false;
        const uint32_t d = slotToDense[index];
        return d < handles.size() && handles[d] == h;
    }

    // The record of a live handle; null (after a report) for any other.
    Record* Get(uint32_t h) {
        if (!TS_CHECK_AS(IsLive(h), "IsLive(handle)")) return nullptr;
        return &records[slotToDense[handle::Index(h)]];
    }
    // As Get, without a report: for modifications, which skip stale handles silently.
    Record* Find(uint32_t h) { return IsLive(h) ? &records[slotToDense[handle::Index(h)]] : nullptr; }

    size_t slotCount() const { return versions.size(); }
    size_t count() const { return records.size(); }

    // Forgets every record and slot: handles start again at index 0, version 0.
    void ClearAll() {
        records.clear();
        handles.clear();
        freeHandles.clear();
        slotToDense.clear();
        versions.clear();
    }

    std::vector<Record> records;   // dense, in no particular order
    std::vector<uint32_t> handles;  // handles[i] addresses records[i]
    std::vector<uint32_t> freeHandles;
    std::vector<uint32_t> slotToDense;
    std::vector<uint8_t> versions;
};

}  // namespace ts
