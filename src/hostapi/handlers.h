// The immediate message handlers. Each takes the payload reader and returns
// the result the host receives.
#pragma once

#include <cstdint>

#include "common/binarybuffer.h"

namespace ts {

uint64_t HandleExchangeFrame(BinaryBufferReader& reader);
uint64_t HandleLoadElementTable(BinaryBufferReader& reader);
uint64_t HandleStoreRecordList(BinaryBufferReader& reader);
uint64_t HandleLoadDiseaseTable(BinaryBufferReader& reader);
uint64_t HandleLoadCellByteGrid(BinaryBufferReader& reader);
uint64_t HandleCreateWorld(BinaryBufferReader& reader);
uint64_t HandleSettleWorld(BinaryBufferReader& reader);
uint64_t HandleLoadSaveGame(BinaryBufferReader& reader);
uint64_t HandleNoOp(BinaryBufferReader& reader);
uint64_t HandleSetWorldFlags(BinaryBufferReader& reader);
// Extensions beyond the catalogue.
uint64_t HandleSetRandomSeed(BinaryBufferReader& reader);
uint64_t HandleHashWorld(BinaryBufferReader& reader);

}  // namespace ts
