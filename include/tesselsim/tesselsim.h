/*
 * tesselsim: two-dimensional grid physics for game hosts.
 *
 * This header is the whole public interface and the single description of the
 * wire format: the exported functions, the host callback and its report
 * records, every message id, every message payload, the element record, the
 * frame results and their list entries, and the conduit update result.
 *
 * All payloads are little-endian and packed without padding. Valid C99 and C++.
 */
#ifndef TESSELSIM_TESSELSIM_H
#define TESSELSIM_TESSELSIM_H

#include <stddef.h>
#include <stdint.h>

#if defined(__cplusplus)
#define TS_EXTERN_C extern "C"
#else
#define TS_EXTERN_C
#endif

#if defined(TESSELSIM_BUILDING)
#define TS_API TS_EXTERN_C __attribute__((visibility("default")))
#else
#define TS_API TS_EXTERN_C
#endif

/* Compile-time layout checks that work in C99, C11 and C++. */
#if defined(__cplusplus)
#define TS_STATIC_ASSERT(cond, name) static_assert(cond, #name)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define TS_STATIC_ASSERT(cond, name) _Static_assert(cond, #name)
#else
#define TS_STATIC_ASSERT(cond, name) typedef char ts_static_assert_##name[(cond) ? 1 : -1]
#endif
#define TS_CHECK_SIZE(type, size) TS_STATIC_ASSERT(sizeof(type) == (size), size_of_##type)
#define TS_CHECK_OFFSET(type, field, off) \
    TS_STATIC_ASSERT(offsetof(type, field) == (off), offset_of_##type##_##field)

/* ------------------------------------------------------------------------- */
/* Constants                                                                 */
/* ------------------------------------------------------------------------- */

#define SIM_MAX_TEMPERATURE 10000.0f
#define SIM_MIN_TEMPERATURE 0.0f
#define SIM_NO_CALLBACK 0xFFFFFFFFu    /* callbackId that asks for no result record */
#define SIM_NO_HANDLE 0xFFFFFFFFu      /* ComponentHandle: none */
#define SIM_NO_ELEMENT 255u            /* element index: none */
#define SIM_NO_DISEASE 255u            /* disease index: none */
#define SIM_VACUUM_ELEMENT_ID 0x2D39BF75u
#define SIM_SINK_ELEMENT_ID 0xA9360B34u
#define SIM_BORDER_ELEMENT_ID 0x6D95058Cu
#define SIM_SAVE_MAGIC "SIMSAVE"       /* followed by one zero byte: 8 bytes */
#define SIM_SAVE_VERSION 13
#define SIM_SAVE_MIN_VERSION 7

/* Host callback codes. */
#define SIM_CALLBACK_CRASH 0
#define SIM_CALLBACK_ASSERTION 1

/* Element state: bits 0-1 of stateFlags. */
#define SIM_STATE_VACUUM 0u
#define SIM_STATE_GAS 1u
#define SIM_STATE_LIQUID 2u
#define SIM_STATE_SOLID 3u
#define SIM_STATE_MASK 0x03u
#define SIM_ELEMENT_UNBREAKABLE 0x04u
#define SIM_ELEMENT_UNSTABLE 0x08u
#define SIM_ELEMENT_NO_HEAT_EXCHANGE 0x10u

/* cellFlags bits. */
#define SIM_CELL_NO_GAS 0x01u
#define SIM_CELL_NO_LIQUID 0x02u
#define SIM_CELL_STOPS_FALLING 0x04u
#define SIM_CELL_PRESSURE_PROOF 0x08u
#define SIM_CELL_SHADES_BELOW 0x20u
#define SIM_CELL_REPORT_TRANSITIONS 0x40u

/* ------------------------------------------------------------------------- */
/* Host callback and report records                                          */
/* ------------------------------------------------------------------------- */

/* Called with SIM_CALLBACK_ASSERTION and a SimAssertionReport*, or with
 * SIM_CALLBACK_CRASH and a SimCrashReport*. The record and its texts are valid
 * only during the call. May be called from any thread of the library. */
typedef void (*HostCallback)(int32_t code, void* record);

typedef struct SimAssertionReport {
    const char* callStack; /* "file:line" lines joined by "\n" */
    const char* message;   /* at most 255 characters */
    const char* file;      /* source file of the reporting site */
    int32_t line;
} SimAssertionReport;

typedef struct SimCrashReport {
    const char* callStack;
    const char* dumpPath;
} SimCrashReport;

/* ------------------------------------------------------------------------- */
/* Message ids                                                               */
/* ------------------------------------------------------------------------- */

/* Immediate: handled at once, the handler's result is returned. */
#define SIM_MSG_EXCHANGE_FRAME 0x404a7123u
#define SIM_MSG_LOAD_ELEMENT_TABLE 0x421169eau
#define SIM_MSG_STORE_RECORD_LIST 0xc88ce785u
#define SIM_MSG_LOAD_DISEASE_TABLE 0x31311bafu
#define SIM_MSG_LOAD_CELL_BYTE_GRID 0xe4be0717u
#define SIM_MSG_CREATE_WORLD 0x7aee0fb9u
#define SIM_MSG_SETTLE_WORLD 0x39da19a9u
#define SIM_MSG_LOAD_SAVE_GAME 0xd7e9e1c6u
#define SIM_MSG_NO_OP 0xe7906e7du
#define SIM_MSG_SET_WORLD_FLAGS 0x44cab6b9u

/* Frame-direct: act on the frame being filled. */
#define SIM_MSG_END_FRAME 0xd1c97543u
#define SIM_MSG_SET_FRAME_PARAMETERS 0x9bada664u

/* Queued on cells. */
#define SIM_MSG_SET_CELL_INSULATION 0xca6dcf7fu
#define SIM_MSG_SET_STRENGTH_MODIFIER 0x5ef6f94eu
#define SIM_MSG_MODIFY_CELL_ENERGY 0x30c69504u
#define SIM_MSG_SET_CELL_FLAGS 0xe406df65u
#define SIM_MSG_CONSUME_MASS 0x66f9f7e7u
#define SIM_MSG_ADD_MASS 0x2f8570fbu
#define SIM_MSG_CONSUME_DISEASE 0xc3367400u
#define SIM_MSG_MODIFY_CELL_DISEASE 0x91833896u
#define SIM_MSG_DIG_CELL 0x31a728a2u
#define SIM_MSG_MODIFY_CELL 0xb551f21cu
#define SIM_MSG_SET_CELL_BYTE_GRID 0xe531d902u

/* Queued on components. */
#define SIM_MSG_ADD_MASS_CONSUMER 0x78a9f851u
#define SIM_MSG_MODIFY_MASS_CONSUMER 0x5de8d41au
#define SIM_MSG_REMOVE_MASS_CONSUMER 0x354fbb4eu
#define SIM_MSG_ADD_MASS_EMITTER 0xe1df1f33u
#define SIM_MSG_MODIFY_MASS_EMITTER 0x180e482cu
#define SIM_MSG_REMOVE_MASS_EMITTER 0xa527ccf6u
#define SIM_MSG_ADD_ELEMENT_CHUNK 0x562bffb2u
#define SIM_MSG_REMOVE_ELEMENT_CHUNK 0xc9961ef5u
#define SIM_MSG_MOVE_ELEMENT_CHUNK 0xe9a74e82u
#define SIM_MSG_SET_ELEMENT_CHUNK_DATA 0xe610a87du
#define SIM_MSG_MODIFY_ELEMENT_CHUNK_ENERGY 0x3cd47193u
#define SIM_MSG_MODIFY_ELEMENT_CHUNK_DATA 0xad4ae21du
#define SIM_MSG_ADD_BUILDING_HEAT_EXCHANGE 0x67a75d28u
#define SIM_MSG_MODIFY_BUILDING_HEAT_EXCHANGE 0x6c5c80a1u
#define SIM_MSG_MODIFY_BUILDING_ENERGY 0xaf9b1296u
#define SIM_MSG_REMOVE_BUILDING_HEAT_EXCHANGE 0xe4d0366bu
#define SIM_MSG_ADD_DISEASE_EMITTER 0x589e8233u
#define SIM_MSG_MODIFY_DISEASE_EMITTER 0x8ecdab2cu
#define SIM_MSG_REMOVE_DISEASE_EMITTER 0x1be72ff6u
#define SIM_MSG_ADD_RESERVED_COMPONENT 0x14c35551u
#define SIM_MSG_MODIFY_RESERVED_COMPONENT 0x93576a98u
#define SIM_MSG_REMOVE_RESERVED_COMPONENT 0xd169184eu

/* ------------------------------------------------------------------------- */
/* Payloads (packed, little-endian)                                          */
/* ------------------------------------------------------------------------- */

#pragma pack(push, 1)

/* Immediate payloads with a fixed part. */
typedef struct StoreRecordListPayload {
    int32_t count;
    uint64_t address; /* array of count 28-byte records in host memory */
} StoreRecordListPayload;
TS_CHECK_SIZE(StoreRecordListPayload, 12);
TS_CHECK_OFFSET(StoreRecordListPayload, address, 4);

typedef struct SetWorldFlagsPayload {
    uint8_t clearBits;
    uint8_t setBits;
} SetWorldFlagsPayload;
TS_CHECK_SIZE(SetWorldFlagsPayload, 2);

/* CreateWorld: i32 w, i32 h, then CreateWorldCell[w*h], f32 targetTemperature[w*h],
 * CreateWorldDisease[w*h], all in game-cell row-major order. */
typedef struct CreateWorldHeader {
    int32_t gameWidth;
    int32_t gameHeight;
} CreateWorldHeader;
TS_CHECK_SIZE(CreateWorldHeader, 8);

typedef struct CreateWorldCell {
    uint8_t elementIdx;
    uint8_t cellFlags;
    uint8_t insulation;
    uint8_t strengthModifier;
    float temperature;
    float mass;
} CreateWorldCell;
TS_CHECK_SIZE(CreateWorldCell, 12);
TS_CHECK_OFFSET(CreateWorldCell, temperature, 4);
TS_CHECK_OFFSET(CreateWorldCell, mass, 8);

typedef struct CreateWorldDisease {
    uint8_t diseaseIdx;
    uint8_t diseaseAge;
    uint8_t unused2[2];
    int32_t diseaseCount;
    uint8_t unused8[4];
} CreateWorldDisease;
TS_CHECK_SIZE(CreateWorldDisease, 12);
TS_CHECK_OFFSET(CreateWorldDisease, diseaseCount, 4);

/* Frame-direct. */
/* EndFrame's dt must be finite and >= 0 (0: no physics); another dt is
   reported and the frame closes without physics. A frame with dt > 0 runs
   max(trunc(carried + dt) * 5, 1) steps of 0.2 s, but one cycle (the frames an
   ExchangeFrame releases) runs at most SIM_MAX_STEPS_PER_CYCLE steps, 40 s of
   game time; time beyond the cap is dropped with a report. Thirty waiting
   frames (the most a backlog holds) of one second each run 150 steps. */
#define SIM_MAX_STEPS_PER_CYCLE 200
typedef struct EndFramePayload {
    float dt; /* seconds of game time; <= 0 means no physics */
    int32_t minX, minY, maxX, maxY; /* active region, game cells, max exclusive */
} EndFramePayload;
TS_CHECK_SIZE(EndFramePayload, 20);
TS_CHECK_OFFSET(EndFramePayload, maxY, 16);

typedef struct SetFrameParametersPayload {
    float buildingExchangeRate;
    float offGasChance;
    float offGasFraction;
    float temperatureRelaxRate;
    uint32_t forceEmission; /* only the low byte is tested */
} SetFrameParametersPayload;
TS_CHECK_SIZE(SetFrameParametersPayload, 20);
TS_CHECK_OFFSET(SetFrameParametersPayload, forceEmission, 16);

/* Queued on cells. */
typedef struct SetCellInsulationPayload {
    int32_t gameCell;
    float value; /* 0..1 */
} SetCellInsulationPayload;
TS_CHECK_SIZE(SetCellInsulationPayload, 8);

typedef struct SetStrengthModifierPayload {
    int32_t gameCell;
    float value;
} SetStrengthModifierPayload;
TS_CHECK_SIZE(SetStrengthModifierPayload, 8);

typedef struct ModifyCellEnergyPayload {
    int32_t gameCell;
    float kilojoules;
    float maxTemperature;
    int32_t id; /* only reported */
} ModifyCellEnergyPayload;
TS_CHECK_SIZE(ModifyCellEnergyPayload, 16);
TS_CHECK_OFFSET(ModifyCellEnergyPayload, id, 12);

typedef struct SetCellFlagsPayload {
    int32_t gameCell;
    uint8_t mask;
    uint8_t set; /* non-zero sets the mask bits, zero clears them */
    uint8_t unused6[2];
} SetCellFlagsPayload;
TS_CHECK_SIZE(SetCellFlagsPayload, 8);
TS_CHECK_OFFSET(SetCellFlagsPayload, set, 5);

typedef struct ConsumeMassPayload {
    int32_t gameCell;
    uint32_t callbackId;
    float mass;
    uint8_t elementIdx;
    uint8_t maxDepth;
    uint8_t unused14[2];
} ConsumeMassPayload;
TS_CHECK_SIZE(ConsumeMassPayload, 16);
TS_CHECK_OFFSET(ConsumeMassPayload, elementIdx, 12);
TS_CHECK_OFFSET(ConsumeMassPayload, maxDepth, 13);

typedef struct AddMassPayload {
    int32_t gameCell;
    uint32_t callbackId;
    float mass;
    float temperature;
    int32_t diseaseCount;
    uint8_t elementIdx;
    uint8_t diseaseIdx;
    uint8_t unused22[2];
} AddMassPayload;
TS_CHECK_SIZE(AddMassPayload, 24);
TS_CHECK_OFFSET(AddMassPayload, diseaseCount, 16);
TS_CHECK_OFFSET(AddMassPayload, elementIdx, 20);
TS_CHECK_OFFSET(AddMassPayload, diseaseIdx, 21);

typedef struct ConsumeDiseasePayload {
    int32_t gameCell;
    uint32_t callbackId;
    float fraction;
    int32_t maxCount;
} ConsumeDiseasePayload;
TS_CHECK_SIZE(ConsumeDiseasePayload, 16);
TS_CHECK_OFFSET(ConsumeDiseasePayload, maxCount, 12);

typedef struct ModifyCellDiseasePayload {
    int32_t gameCell;
    uint8_t diseaseIdx; /* 255: change the count of whatever disease the cell holds */
    uint8_t unused5[3];
    int32_t count;
} ModifyCellDiseasePayload;
TS_CHECK_SIZE(ModifyCellDiseasePayload, 12);
TS_CHECK_OFFSET(ModifyCellDiseasePayload, count, 8);

typedef struct DigCellPayload {
    int32_t gameCell;
    uint32_t callbackId;
    uint8_t skipDrop;
    uint8_t unused9[3];
} DigCellPayload;
TS_CHECK_SIZE(DigCellPayload, 12);
TS_CHECK_OFFSET(DigCellPayload, skipDrop, 8);

#define SIM_REPLACE_ADD 0u
#define SIM_REPLACE_REPLACE 1u
#define SIM_REPLACE_AND_DISPLACE 2u
typedef struct ModifyCellPayload {
    int32_t gameCell;
    uint32_t callbackId;
    float temperature;
    float mass;
    int32_t diseaseCount;
    uint8_t elementIdx;
    uint8_t replaceType;
    uint8_t diseaseIdx;
    uint8_t solidMode;
} ModifyCellPayload;
TS_CHECK_SIZE(ModifyCellPayload, 24);
TS_CHECK_OFFSET(ModifyCellPayload, temperature, 8);
TS_CHECK_OFFSET(ModifyCellPayload, mass, 12);
TS_CHECK_OFFSET(ModifyCellPayload, diseaseCount, 16);
TS_CHECK_OFFSET(ModifyCellPayload, elementIdx, 20);
TS_CHECK_OFFSET(ModifyCellPayload, replaceType, 21);
TS_CHECK_OFFSET(ModifyCellPayload, diseaseIdx, 22);
TS_CHECK_OFFSET(ModifyCellPayload, solidMode, 23);

typedef struct SetCellByteGridPayload {
    int32_t gameCell;
    uint8_t value;
    uint8_t unused5[3];
} SetCellByteGridPayload;
TS_CHECK_SIZE(SetCellByteGridPayload, 8);

/* Queued on components. A handle is a ComponentHandle: slot index in bits
 * 0-23, version in bits 24-31. */
typedef struct AddMassConsumerPayload {
    int32_t gameCell;
    uint32_t callbackId;
    uint8_t radius;
    uint8_t mode;
    uint8_t elementIdx;
    uint8_t unused11;
} AddMassConsumerPayload;
TS_CHECK_SIZE(AddMassConsumerPayload, 12);
TS_CHECK_OFFSET(AddMassConsumerPayload, radius, 8);
TS_CHECK_OFFSET(AddMassConsumerPayload, elementIdx, 10);

typedef struct ModifyMassConsumerPayload {
    uint32_t handle;
    int32_t gameCell;
    float rate;
} ModifyMassConsumerPayload;
TS_CHECK_SIZE(ModifyMassConsumerPayload, 12);

typedef struct RemoveComponentPayload {
    uint32_t handle;
    uint32_t callbackId;
} RemoveComponentPayload;
TS_CHECK_SIZE(RemoveComponentPayload, 8);
typedef RemoveComponentPayload RemoveMassConsumerPayload;
typedef RemoveComponentPayload RemoveMassEmitterPayload;
typedef RemoveComponentPayload RemoveElementChunkPayload;
typedef RemoveComponentPayload RemoveBuildingHeatExchangePayload;
typedef RemoveComponentPayload RemoveDiseaseEmitterPayload;
typedef RemoveComponentPayload RemoveReservedComponentPayload;

typedef struct AddMassEmitterPayload {
    float maxPressure;
    uint32_t callbackId;
    uint32_t blockedCallback;
    uint32_t unblockedCallback;
} AddMassEmitterPayload;
TS_CHECK_SIZE(AddMassEmitterPayload, 16);

typedef struct ModifyMassEmitterPayload {
    uint32_t handle;
    int32_t gameCell;
    float interval;
    float emitMass;
    float emitTemperature;
    float maxPressure;
    int32_t emitDiseaseCount;
    uint8_t elementIdx;
    uint8_t radius;
    uint8_t emitDiseaseIdx;
    uint8_t unused31;
} ModifyMassEmitterPayload;
TS_CHECK_SIZE(ModifyMassEmitterPayload, 32);
TS_CHECK_OFFSET(ModifyMassEmitterPayload, emitDiseaseCount, 24);
TS_CHECK_OFFSET(ModifyMassEmitterPayload, elementIdx, 28);
TS_CHECK_OFFSET(ModifyMassEmitterPayload, emitDiseaseIdx, 30);

typedef struct AddElementChunkPayload {
    int32_t gameCell;
    uint32_t callbackId;
    float mass;
    float temperature;
    float scaleNumerator;
    float scaleDenominator;
    float floorExchangeScale;
    uint8_t elementIdx;
    uint8_t unused29[3];
} AddElementChunkPayload;
TS_CHECK_SIZE(AddElementChunkPayload, 32);
TS_CHECK_OFFSET(AddElementChunkPayload, floorExchangeScale, 24);
TS_CHECK_OFFSET(AddElementChunkPayload, elementIdx, 28);

typedef struct MoveElementChunkPayload {
    uint32_t handle;
    int32_t gameCell;
} MoveElementChunkPayload;
TS_CHECK_SIZE(MoveElementChunkPayload, 8);

typedef struct SetElementChunkDataPayload {
    uint32_t handle;
    float temperature;
    float heatCapacity;
} SetElementChunkDataPayload;
TS_CHECK_SIZE(SetElementChunkDataPayload, 12);

typedef struct ModifyElementChunkEnergyPayload {
    uint32_t handle;
    float kilojoules;
} ModifyElementChunkEnergyPayload;
TS_CHECK_SIZE(ModifyElementChunkEnergyPayload, 8);

typedef struct ModifyElementChunkDataPayload {
    uint32_t handle;
    float storageTemperature;
    float storageHeatCapacity;
    float storageConductivity;
} ModifyElementChunkDataPayload;
TS_CHECK_SIZE(ModifyElementChunkDataPayload, 16);

/* The body shared by AddBuildingHeatExchange (after its callbackId) and
 * ModifyBuildingHeatExchange (after its handle). */
typedef struct BuildingHeatExchangeBody {
    uint8_t elementIdx;
    uint8_t unused1[3];
    float mass;
    float temperature;
    float conductivityScale;
    float overheatTemperature;
    float heatGeneration;
    int32_t minX, minY, maxX, maxY; /* host coordinates, maxima exclusive */
} BuildingHeatExchangeBody;
TS_CHECK_SIZE(BuildingHeatExchangeBody, 40);
TS_CHECK_OFFSET(BuildingHeatExchangeBody, mass, 4);
TS_CHECK_OFFSET(BuildingHeatExchangeBody, minX, 24);

typedef struct AddBuildingHeatExchangePayload {
    uint32_t callbackId;
    BuildingHeatExchangeBody body;
} AddBuildingHeatExchangePayload;
TS_CHECK_SIZE(AddBuildingHeatExchangePayload, 44);
TS_CHECK_OFFSET(AddBuildingHeatExchangePayload, body, 4);

typedef struct ModifyBuildingHeatExchangePayload {
    uint32_t handle;
    BuildingHeatExchangeBody body;
} ModifyBuildingHeatExchangePayload;
TS_CHECK_SIZE(ModifyBuildingHeatExchangePayload, 44);

typedef struct ModifyBuildingEnergyPayload {
    uint32_t handle;
    float kilojoules;
    float minTemperature;
    float maxTemperature;
} ModifyBuildingEnergyPayload;
TS_CHECK_SIZE(ModifyBuildingEnergyPayload, 16);

typedef struct AddDiseaseEmitterPayload {
    uint32_t callbackId;
} AddDiseaseEmitterPayload;
TS_CHECK_SIZE(AddDiseaseEmitterPayload, 4);

typedef struct ModifyDiseaseEmitterPayload {
    uint32_t handle;
    int32_t gameCell;
    uint8_t diseaseIdx;
    uint8_t radius;
    uint8_t unused10[2];
    float interval;
    int32_t count;
} ModifyDiseaseEmitterPayload;
TS_CHECK_SIZE(ModifyDiseaseEmitterPayload, 20);
TS_CHECK_OFFSET(ModifyDiseaseEmitterPayload, interval, 12);
TS_CHECK_OFFSET(ModifyDiseaseEmitterPayload, count, 16);

typedef struct AddReservedComponentPayload {
    uint32_t callbackId;
    uint8_t unread[8];
} AddReservedComponentPayload;
TS_CHECK_SIZE(AddReservedComponentPayload, 12);

typedef struct ModifyReservedComponentPayload {
    uint32_t handle;
    uint8_t unread[16];
} ModifyReservedComponentPayload;
TS_CHECK_SIZE(ModifyReservedComponentPayload, 20);

/* ------------------------------------------------------------------------- */
/* Tables                                                                    */
/* ------------------------------------------------------------------------- */

/* LoadElementTable: i32 N (0..254), ElementRecord[N], then N names, each an
 * i32 length L and L bytes without terminator. */
typedef struct ElementRecord {
    uint32_t id;
    uint8_t stateFlags; /* bits 0-1 state, 0x04 unbreakable, 0x08 unstable, 0x10 no heat exchange */
    uint8_t lowTempTransitionIndex;
    uint8_t highTempTransitionIndex;
    uint8_t padding7;
    float specificHeatCapacity;
    float thermalConductivity;
    float weight;
    float contactWithSolidFactor;
    float contactWithLiquidFactor;
    float contactWithGasFactor;
    float flow;
    float maxFlow;
    float minHorizontalFlow;
    float minVerticalFlow;
    float maxMass;
    float lowTemp;
    float highTemp;
    float strength;
    uint32_t lowTempTransitionOreId;
    float lowTempTransitionOreMassConversion;
    uint32_t highTempTransitionOreId;
    float highTempTransitionOreMassConversion;
    uint8_t sublimateIndex;
    uint8_t reserved81;
    uint8_t padding82[2];
    uint32_t colour;
    uint32_t sublimateId;
    float lightAbsorptionFactor;
    float defaultTemperature;
    float defaultMass;
    uint32_t reserved104;
} ElementRecord;
TS_CHECK_SIZE(ElementRecord, 108);
TS_CHECK_OFFSET(ElementRecord, stateFlags, 4);
TS_CHECK_OFFSET(ElementRecord, highTempTransitionIndex, 6);
TS_CHECK_OFFSET(ElementRecord, specificHeatCapacity, 8);
TS_CHECK_OFFSET(ElementRecord, contactWithGasFactor, 28);
TS_CHECK_OFFSET(ElementRecord, maxMass, 48);
TS_CHECK_OFFSET(ElementRecord, strength, 60);
TS_CHECK_OFFSET(ElementRecord, lowTempTransitionOreId, 64);
TS_CHECK_OFFSET(ElementRecord, highTempTransitionOreMassConversion, 76);
TS_CHECK_OFFSET(ElementRecord, sublimateIndex, 80);
TS_CHECK_OFFSET(ElementRecord, reserved81, 81);
TS_CHECK_OFFSET(ElementRecord, colour, 84);
TS_CHECK_OFFSET(ElementRecord, sublimateId, 88);
TS_CHECK_OFFSET(ElementRecord, lightAbsorptionFactor, 92);
TS_CHECK_OFFSET(ElementRecord, defaultMass, 100);
TS_CHECK_OFFSET(ElementRecord, reserved104, 104);

/* LoadDiseaseTable: i32 D, i32 G (= element count), then per disease:
 * i32 L and L name bytes, DiseaseRecordHeader, DiseaseElementGrowth[G]. */
typedef struct DiseaseRecordHeader {
    uint32_t id; /* never 0: 0 means no disease in saves */
    float competitionWeight;
    float temperatureThresholds[4];
    float temperatureHalfLives[4];
    float reservedParams[8];
} DiseaseRecordHeader;
TS_CHECK_SIZE(DiseaseRecordHeader, 72);
TS_CHECK_OFFSET(DiseaseRecordHeader, temperatureHalfLives, 24);
TS_CHECK_OFFSET(DiseaseRecordHeader, reservedParams, 40);

typedef struct DiseaseElementGrowth {
    float underpopulationDeathRate;
    float populationHalfLife;
    float overpopulationHalfLife;
    float spreadRate;
    float minCountPerKg;
    float maxCountPerKg;
    int32_t minSpreadCount;
    uint8_t minSpreadAge;
} DiseaseElementGrowth;
TS_CHECK_SIZE(DiseaseElementGrowth, 29);
TS_CHECK_OFFSET(DiseaseElementGrowth, minSpreadCount, 24);
TS_CHECK_OFFSET(DiseaseElementGrowth, minSpreadAge, 28);

/* ------------------------------------------------------------------------- */
/* Save format "SIMSAVE" (version 13; versions 7..13 load)                   */
/* ------------------------------------------------------------------------- */

/* 8 magic bytes, i32 version, i32 width, i32 height (padded grid), u8
 * worldFlags (version 13 only), SavedCell[N], SavedDisease[N] (version >= 9),
 * f32 targetTemperature[N] (version >= 8); N = width * height. */
typedef struct SavedCell {
    uint32_t elementId;
    float temperature;
    float mass;
} SavedCell;
TS_CHECK_SIZE(SavedCell, 12);

typedef struct SavedDisease {
    uint32_t diseaseId; /* 0: none */
    int32_t diseaseCount;
} SavedDisease;
TS_CHECK_SIZE(SavedDisease, 8);

/* ------------------------------------------------------------------------- */
/* Frame result list entries                                                 */
/* ------------------------------------------------------------------------- */

typedef struct ChangedCellEntry {
    int32_t gameCell;
    uint8_t oldElementIdx;
    uint8_t newElementIdx;
    uint8_t unused6[2];
} ChangedCellEntry;
TS_CHECK_SIZE(ChangedCellEntry, 8);

/* releasedContents, emittedMatter and dugMatter. */
typedef struct MatterEntry {
    int32_t gameCell;
    uint8_t elementIdx;
    uint8_t diseaseIdx;
    uint8_t unused6[2];
    float mass;
    float temperature;
    int32_t diseaseCount;
} MatterEntry;
TS_CHECK_SIZE(MatterEntry, 20);
TS_CHECK_OFFSET(MatterEntry, mass, 8);
TS_CHECK_OFFSET(MatterEntry, diseaseCount, 16);

typedef struct FallingSolidEntry {
    int32_t gameCell;
    uint8_t zero;
    uint8_t elementIdx;
    uint8_t diseaseIdx;
    uint8_t unused7;
    float mass;
    float temperature;
    int32_t diseaseCount;
} FallingSolidEntry;
TS_CHECK_SIZE(FallingSolidEntry, 20);
TS_CHECK_OFFSET(FallingSolidEntry, elementIdx, 5);
TS_CHECK_OFFSET(FallingSolidEntry, mass, 8);

typedef struct PressureDamageEntry {
    int32_t solidGameCell;
    int32_t liquidGameCell;
} PressureDamageEntry;
TS_CHECK_SIZE(PressureDamageEntry, 8);

typedef struct BuildingOutputEntry {
    uint32_t handle;
    float temperature;
} BuildingOutputEntry;
TS_CHECK_SIZE(BuildingOutputEntry, 8);

typedef struct ConsumeMassResult {
    uint32_t callbackId;
    uint8_t elementIdx;
    uint8_t diseaseIdx;
    uint8_t unused6[2];
    float mass;
    float temperature;
    int32_t diseaseCount;
} ConsumeMassResult;
TS_CHECK_SIZE(ConsumeMassResult, 20);
TS_CHECK_OFFSET(ConsumeMassResult, mass, 8);

typedef struct AddMassResult {
    uint32_t callbackId;
    uint8_t accepted;
    uint8_t elementIdx;
    uint8_t diseaseIdx;
    uint8_t unused7;
    float mass;
    float temperature;
    int32_t diseaseCount;
} AddMassResult;
TS_CHECK_SIZE(AddMassResult, 20);
TS_CHECK_OFFSET(AddMassResult, diseaseIdx, 6);
TS_CHECK_OFFSET(AddMassResult, mass, 8);

typedef struct ConsumeDiseaseResult {
    uint32_t callbackId;
    uint8_t diseaseIdx;
    uint8_t unused5[3];
    int32_t countRemoved;
} ConsumeDiseaseResult;
TS_CHECK_SIZE(ConsumeDiseaseResult, 12);

typedef struct SublimationEvent {
    int32_t gameCell;
    uint32_t sublimateId;
    float angle; /* degrees */
} SublimationEvent;
TS_CHECK_SIZE(SublimationEvent, 12);

typedef struct ComponentCallbackEntry {
    uint32_t callbackId;
    uint32_t handle; /* SIM_NO_HANDLE after a removal */
} ComponentCallbackEntry;
TS_CHECK_SIZE(ComponentCallbackEntry, 8);

typedef struct SolidChangeEntry {
    int32_t gameCell;
    int32_t becameSolid; /* -1 when the new element is solid, else 0 */
} SolidChangeEntry;
TS_CHECK_SIZE(SolidChangeEntry, 8);

typedef struct MassConsumerOutput {
    uint32_t handle;
    uint8_t elementIdx;
    uint8_t diseaseIdx;
    uint8_t unused6[2];
    float mass;
    float temperature;
    int32_t diseaseCount;
} MassConsumerOutput;
TS_CHECK_SIZE(MassConsumerOutput, 20);

typedef struct MassEmitterOutput {
    uint8_t elementIdx;
    uint8_t always255;
    uint8_t unused2[2];
    float mass;
    float temperature;
    uint32_t zero;
} MassEmitterOutput;
TS_CHECK_SIZE(MassEmitterOutput, 16);
TS_CHECK_OFFSET(MassEmitterOutput, mass, 4);

typedef struct ElementChunkOutput {
    float temperature;
    float energy;
} ElementChunkOutput;
TS_CHECK_SIZE(ElementChunkOutput, 8);

typedef struct DiseaseEmitterOutput {
    uint8_t always255;
    uint8_t unused1[3];
    uint32_t zero;
} DiseaseEmitterOutput;
TS_CHECK_SIZE(DiseaseEmitterOutput, 8);

typedef struct ReservedComponentOutput {
    uint8_t unread[8];
} ReservedComponentOutput;
TS_CHECK_SIZE(ReservedComponentOutput, 8);

#pragma pack(pop)

/* ------------------------------------------------------------------------- */
/* FrameResults: returned by ExchangeFrame and LoadSaveGame (412 bytes)      */
/* ------------------------------------------------------------------------- */

#pragma pack(push, 4)

#define TS_LIST(type, name) \
    int32_t name##Count;    \
    const type* name

typedef struct FrameResults {
    int32_t frameCount;
    const uint8_t* elementIdx;
    const float* temperature;
    const float* mass;
    const uint8_t* cellFlags;
    const uint8_t* insulation;
    const uint8_t* strengthModifier;
    const uint8_t* diseaseIdx;
    const int32_t* diseaseCount;
    TS_LIST(SolidChangeEntry, solidChanges);
    TS_LIST(int32_t, liquidChangedCells);
    TS_LIST(int32_t, solidChangedCells);
    TS_LIST(ChangedCellEntry, changedCells);
    TS_LIST(uint32_t, cellCallbacks);
    TS_LIST(MatterEntry, releasedContents);
    TS_LIST(MatterEntry, dugMatter);
    TS_LIST(MatterEntry, emittedMatter);
    TS_LIST(SublimationEvent, sublimationEvents);
    TS_LIST(FallingSolidEntry, fallingSolids);
    TS_LIST(PressureDamageEntry, pressureDamage);
    TS_LIST(BuildingOutputEntry, buildingOutputs);
    TS_LIST(ConsumeMassResult, consumeMassResults);
    TS_LIST(AddMassResult, addMassResults);
    TS_LIST(ConsumeDiseaseResult, consumeDiseaseResults);
    TS_LIST(ComponentCallbackEntry, componentCallbacks);
    TS_LIST(MassConsumerOutput, massConsumerOutputs);
    TS_LIST(MassEmitterOutput, massEmitterOutputs);
    TS_LIST(ElementChunkOutput, elementChunkOutputs);
    TS_LIST(uint32_t, elementChunkEvents);
    TS_LIST(uint32_t, buildingsOverheated);
    TS_LIST(uint32_t, buildingsCooled);
    TS_LIST(uint32_t, buildingsAtHighTemp);
    TS_LIST(int32_t, flaggedTransitions);
    TS_LIST(DiseaseEmitterOutput, diseaseEmitterOutputs);
    TS_LIST(ReservedComponentOutput, reservedComponentOutputs);
    const float* accumulatorCopy;
    const float* flowVectors; /* two per game cell */
    const uint32_t* liquidColours;
    const uint8_t* lightLevels;
} FrameResults;

#undef TS_LIST

TS_CHECK_SIZE(FrameResults, 412);
TS_CHECK_OFFSET(FrameResults, elementIdx, 4);
TS_CHECK_OFFSET(FrameResults, diseaseCount, 60);
TS_CHECK_OFFSET(FrameResults, solidChangesCount, 68);
TS_CHECK_OFFSET(FrameResults, solidChanges, 72);
TS_CHECK_OFFSET(FrameResults, liquidChangedCellsCount, 80);
TS_CHECK_OFFSET(FrameResults, solidChangedCellsCount, 92);
TS_CHECK_OFFSET(FrameResults, changedCellsCount, 104);
TS_CHECK_OFFSET(FrameResults, cellCallbacksCount, 116);
TS_CHECK_OFFSET(FrameResults, releasedContentsCount, 128);
TS_CHECK_OFFSET(FrameResults, dugMatterCount, 140);
TS_CHECK_OFFSET(FrameResults, emittedMatterCount, 152);
TS_CHECK_OFFSET(FrameResults, sublimationEventsCount, 164);
TS_CHECK_OFFSET(FrameResults, fallingSolidsCount, 176);
TS_CHECK_OFFSET(FrameResults, pressureDamageCount, 188);
TS_CHECK_OFFSET(FrameResults, buildingOutputsCount, 200);
TS_CHECK_OFFSET(FrameResults, consumeMassResultsCount, 212);
TS_CHECK_OFFSET(FrameResults, addMassResultsCount, 224);
TS_CHECK_OFFSET(FrameResults, consumeDiseaseResultsCount, 236);
TS_CHECK_OFFSET(FrameResults, componentCallbacksCount, 248);
TS_CHECK_OFFSET(FrameResults, massConsumerOutputsCount, 260);
TS_CHECK_OFFSET(FrameResults, massEmitterOutputsCount, 272);
TS_CHECK_OFFSET(FrameResults, elementChunkOutputsCount, 284);
TS_CHECK_OFFSET(FrameResults, elementChunkEventsCount, 296);
TS_CHECK_OFFSET(FrameResults, buildingsOverheatedCount, 308);
TS_CHECK_OFFSET(FrameResults, buildingsCooledCount, 320);
TS_CHECK_OFFSET(FrameResults, buildingsAtHighTempCount, 332);
TS_CHECK_OFFSET(FrameResults, flaggedTransitionsCount, 344);
TS_CHECK_OFFSET(FrameResults, diseaseEmitterOutputsCount, 356);
TS_CHECK_OFFSET(FrameResults, reservedComponentOutputsCount, 368);
TS_CHECK_OFFSET(FrameResults, reservedComponentOutputs, 372);
TS_CHECK_OFFSET(FrameResults, accumulatorCopy, 380);
TS_CHECK_OFFSET(FrameResults, flowVectors, 388);
TS_CHECK_OFFSET(FrameResults, liquidColours, 396);
TS_CHECK_OFFSET(FrameResults, lightLevels, 404);

/* Returned by ConduitTemperatureManager_Update (36 bytes). */
typedef struct UpdateResult {
    int32_t temperatureCount;
    const float* temperatures; /* one per slot index */
    int32_t frozenCount;
    const uint32_t* frozenEntries; /* slot indices */
    int32_t boiledCount;
    const uint32_t* boiledEntries;
} UpdateResult;
TS_CHECK_SIZE(UpdateResult, 36);
TS_CHECK_OFFSET(UpdateResult, temperatures, 4);
TS_CHECK_OFFSET(UpdateResult, frozenCount, 12);
TS_CHECK_OFFSET(UpdateResult, frozenEntries, 16);
TS_CHECK_OFFSET(UpdateResult, boiledCount, 24);
TS_CHECK_OFFSET(UpdateResult, boiledEntries, 28);

/* The building temperature array given to ConduitTemperatureManager_Update is
 * the frame's buildingOutputs: BuildingOutputEntry per slot index. */

#pragma pack(pop)

/* ------------------------------------------------------------------------- */
/* Exported functions                                                        */
/* ------------------------------------------------------------------------- */

TS_API void SIM_Initialize(HostCallback callback);
TS_API void SIM_Shutdown(void);
TS_API uint64_t SIM_HandleMessage(uint32_t id, int32_t size, const void* data);
/* Serialises the world; the buffer is owned by the library until SIM_EndSave
 * or the next SIM_BeginSave. Returns null and length 0 without a world. */
TS_API const uint8_t* SIM_BeginSave(uint32_t* outLength);
TS_API void SIM_EndSave(void);
/* Raises a breakpoint trap on the calling thread to exercise crash reporting. */
TS_API void SIM_DebugCrash(void);

/* Machine description as one JSON object; null when it cannot be built. */
TS_API const char* SYSINFO_Acquire(void);
TS_API void SYSINFO_Release(void);

TS_API void ConduitTemperatureManager_Initialize(void);
TS_API void ConduitTemperatureManager_Shutdown(void);
TS_API uint32_t ConduitTemperatureManager_Add(float temperature, float mass, uint32_t elementId,
                                              uint32_t buildingHandle, float buildingHeatCapacity,
                                              float buildingConductivity,
                                              uint8_t useLowerConductivity);
TS_API void ConduitTemperatureManager_Set(uint32_t handle, float temperature, float mass,
                                          uint32_t elementId);
TS_API void ConduitTemperatureManager_Remove(uint32_t handle);
TS_API void ConduitTemperatureManager_Clear(void);
TS_API const UpdateResult* ConduitTemperatureManager_Update(
    float dt, const BuildingOutputEntry* buildingTemperatures);

#endif /* TESSELSIM_TESSELSIM_H */
