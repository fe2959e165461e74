#include "hostapi/dispatch.h"

#include "hostapi/handlers.h"
#include "hostapi/runtime.h"
#include "tesselsim/tesselsim.h"

namespace ts {

namespace {

// Searched from the first entry, in this order.
const MessageHandlerEntry kMessageHandlers[] = {
    {SIM_MSG_EXCHANGE_FRAME, HandleExchangeFrame},
    {SIM_MSG_LOAD_ELEMENT_TABLE, HandleLoadElementTable},
    {SIM_MSG_STORE_RECORD_LIST, HandleStoreRecordList},
    {SIM_MSG_LOAD_DISEASE_TABLE, HandleLoadDiseaseTable},
    {SIM_MSG_LOAD_CELL_BYTE_GRID, HandleLoadCellByteGrid},
    {SIM_MSG_CREATE_WORLD, HandleCreateWorld},
    {SIM_MSG_SETTLE_WORLD, HandleSettleWorld},
    {SIM_MSG_LOAD_SAVE_GAME, HandleLoadSaveGame},
    {SIM_MSG_NO_OP, HandleNoOp},
    {SIM_MSG_SET_WORLD_FLAGS, HandleSetWorldFlags},
    // Extensions, after the catalogue's ten.
    {SIM_MSG_SET_RANDOM_SEED, HandleSetRandomSeed},
    {SIM_MSG_HASH_WORLD, HandleHashWorld},
};

}  // namespace

uint64_t HandleMessage(uint32_t id, int32_t size, const void* data) {
    Runtime& rt = GetRuntime();
    if (!rt.simThread) return 0;
    BinaryBufferReader reader(data, size);
    if (rt.simThread->frameManager().EnqueueMessage(id, data, size) != EnqueueResult::NotHandled) return 0;
    for (const MessageHandlerEntry& entry : kMessageHandlers) {
        if (entry.id == id) return entry.handler(reader);
    }
    return 0;
}

}  // namespace ts
