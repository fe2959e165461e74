// Immediate handlers for the tables and the small world settings.
#include <cstring>
#include <string>

#include "common/report.h"
#include "hostapi/handlers.h"
#include "hostapi/runtime.h"

namespace ts {

uint64_t HandleLoadElementTable(BinaryBufferReader& reader) {
    if (RefusedWhileRunning("LoadElementTable")) return 0;
    ElementTable table;
    std::string error;
    if (!ParseElementTable(reader, table, error)) {
        TS_WARN("LoadElementTable refused, previous table kept: %s", error.c_str());
        return 0;
    }
    ElementTable& current = GetRuntime().elementTable;
    current = std::move(table);
    return static_cast<uint64_t>(current.count());
}

uint64_t HandleLoadDiseaseTable(BinaryBufferReader& reader) {
    if (RefusedWhileRunning("LoadDiseaseTable")) return 0;
    Runtime& rt = GetRuntime();
    DiseaseTable table;
    std::string error;
    if (!ParseDiseaseTable(reader, rt.elementTable.count(), table, error)) {
        TS_WARN("%s", error.c_str());
        return 0;
    }
    rt.diseaseTable = std::move(table);
    return 0;
}

uint64_t HandleStoreRecordList(BinaryBufferReader& reader) {
    // Waits for a running cycle to end; nothing reads the records.
    std::lock_guard<std::mutex> guard(GetRuntime().exchange.cycleLock);
    StoreRecordListPayload payload;
    if (!reader.Read(payload)) TS_WARN("StoreRecordList: payload of %llu bytes, 12 needed",
                                       static_cast<unsigned long long>(reader.size()));
    return 0;
}

uint64_t HandleNoOp(BinaryBufferReader&) { return 0; }

uint64_t HandleSetWorldFlags(BinaryBufferReader& reader) {
    SetWorldFlagsPayload payload;
    if (!reader.Read(payload)) {
        TS_WARN("SetWorldFlags: payload of %llu bytes, 2 needed", static_cast<unsigned long long>(reader.size()));
        return 0;
    }
    Runtime& rt = GetRuntime();
    World* world = rt.simData.get();
    if (world == nullptr) return 0;
    // Every settling step reads the flags: they change between cycles.
    std::lock_guard<std::mutex> cycle(rt.exchange.cycleLock);
    world->worldFlags = static_cast<uint8_t>((world->worldFlags & ~payload.clearBits) | payload.setBits);
    return 0;
}

}  // namespace ts
