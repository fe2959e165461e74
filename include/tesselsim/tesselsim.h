/*
 * tesselsim: two-dimensional grid physics for game hosts.
 *
 * This header is the whole public interface and the complete description of
 * the wire format: the exports, the host callback and its records, every
 * message id with its payload and result, the tables, the save format and the
 * frame results. Valid C99 and C++. All payloads are little-endian and packed
 * without padding; a payload is read during the call only.
 *
 * Cells. The host's grid has gameWidth x gameHeight cells; a game cell is
 * numbered y * gameWidth + x, row 0 at the bottom. Every per-cell array of
 * FrameResults and every per-cell block of a payload is indexed by game cell.
 * The library pads the grid with a one-cell border of its own; only saves show
 * it (their width and height include it, and so do their cell blocks).
 *
 * "None" encodings: element index SIM_NO_ELEMENT (255) and disease index
 * SIM_NO_DISEASE (255) mean none wherever an index is stored; disease id 0
 * means none in saves; callbackId SIM_NO_CALLBACK asks for no result record;
 * handle SIM_NO_HANDLE names no component. In an ElementRecord a transition or
 * sublimate index of 255 means "no transition" (its temperature is then never
 * tested) and an ore id of SIM_VACUUM_ELEMENT_ID means "no by-product".
 *
 * Message kinds (SIM_HandleMessage). Queued messages are copied into the frame
 * being filled and applied by the cycle that the next ExchangeFrame releases;
 * frame-direct messages act on that frame at once. Both return 0, exactly as
 * an unknown id does. Immediate messages run at once and return the result
 * listed with each id. A refused immediate message changes nothing and says
 * why through the host callback (code SIM_CALLBACK_ASSERTION); where success
 * returns non-zero, a refusal returns 0. A refused queued message (a short
 * payload, a cell or index out of range, a non-finite value) is reported the
 * same way and skipped; one with a callbackId still answers once in its list.
 *
 * A session: SIM_Initialize; LoadElementTable; LoadDiseaseTable; CreateWorld
 * or LoadSaveGame (LoadSaveGame starts the simulation thread); per game frame:
 * queued messages, SetFrameParameters, EndFrame, ExchangeFrame; SIM_BeginSave
 * and SIM_EndSave between frames; SIM_Shutdown.
 *
 * The library computes in a floating-point mode of its own (exceptions masked,
 * rounding to nearest, denormal results flushed to zero) on its threads and
 * inside every export, whatever mode the host set; the host's mode is put back
 * before an export returns (a host callback runs in the library's mode).
 */
#ifndef TESSELSIM_TESSELSIM_H
#define TESSELSIM_TESSELSIM_H

#include <stddef.h>
#include <stdint.h>

/* Library version. TESSELSIM_VERSION is major * 10000 + minor * 100 + patch,
 * for comparisons in #if. The shared library's SONAME carries the major. */
#define TESSELSIM_VERSION_MAJOR 0
#define TESSELSIM_VERSION_MINOR 2
#define TESSELSIM_VERSION_PATCH 0
#define TESSELSIM_VERSION \
    (TESSELSIM_VERSION_MAJOR * 10000 + TESSELSIM_VERSION_MINOR * 100 + TESSELSIM_VERSION_PATCH)
#define TESSELSIM_VERSION_STRING "0.2.0"

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

#define SIM_MAX_TEMPERATURE 10000.0f   /* kelvin; a cell with mass has 0 < T <= this */
#define SIM_MIN_TEMPERATURE 0.0f
#define SIM_NO_CALLBACK 0xFFFFFFFFu    /* callbackId that asks for no result record */
#define SIM_NO_HANDLE 0xFFFFFFFFu      /* ComponentHandle: none */
#define SIM_NO_ELEMENT 255u            /* element index: none (a table holds at most 254) */
#define SIM_NO_DISEASE 255u            /* disease index: none (a table holds at most 254) */
/* Element ids with a meaning. An element table must hold the vacuum and the
 * border element (which must be solid, with no high-temperature transition
 * and no sublimate element), or CreateWorld and LoadSaveGame are
 * refused; the sink is optional (matter moved into a vacuum cell of the sink
 * element vanishes). */
#define SIM_VACUUM_ELEMENT_ID 0x2D39BF75u /* empty space; written into emptied cells */
#define SIM_SINK_ELEMENT_ID 0xA9360B34u
#define SIM_BORDER_ELEMENT_ID 0x6D95058Cu /* fills the border: 9999 kg at 0 K */
#define SIM_SAVE_MAGIC "SIMSAVE"       /* followed by one zero byte: 8 bytes */
#define SIM_SAVE_VERSION 13            /* written by SIM_BeginSave */
#define SIM_SAVE_MIN_VERSION 7         /* oldest version LoadSaveGame reads */

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

/* cellFlags bits (SetCellFlags; published in FrameResults.cellFlags). */
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

/* Immediate messages: handled at once on the calling thread. */

/* Payload: exactly gameWidth * gameHeight bytes, one per game cell: the host's
 * input grid (release permits: a non-zero byte lets matter leave the grid at
 * that cell; the physics uses a grid from the cycle that the second
 * ExchangeFrame after it releases).
 * Waits for the running cycle to publish, swaps the result buffers and
 * releases the next cycle with exactly the frames closed so far. Returns the
 * address of the FrameResults of the cycle just finished; 0 without a loaded
 * world. A grid of another size is reported and not copied; the exchange
 * still happens. */
#define SIM_MSG_EXCHANGE_FRAME 0x404a7123u
/* Payload: i32 N (0..254), ElementRecord[N], then N names (i32 length L and L
 * bytes, no terminator). Returns N. Refused (0, previous table kept) for a
 * count outside 0..254, a short payload, a transition or sublimate index
 * beyond the table, a specificHeatCapacity above 1e20 (or NaN), or while the
 * simulation runs; an empty table also
 * returns 0, without a report. Send it before any world. */
#define SIM_MSG_LOAD_ELEMENT_TABLE 0x421169eau
/* Payload: StoreRecordListPayload. Waits for a running cycle to end; the
 * records are not read. Returns 0. */
#define SIM_MSG_STORE_RECORD_LIST 0xc88ce785u
/* Payload: i32 D (0..254), i32 G (must equal the element count), then per
 * disease: name (i32 L, L bytes), DiseaseRecordHeader, DiseaseElementGrowth[G];
 * consumed exactly. Returns 0 always: a refused table (bad counts, a short
 * payload, bytes left over, the simulation running) is told by its report,
 * and the previous table is kept. Send it after the element table. */
#define SIM_MSG_LOAD_DISEASE_TABLE 0x31311bafu
/* Payload: exactly gameWidth * gameHeight bytes, one per game cell: the
 * world's cell byte grid (255 marks a vent). Returns 0; refused with a report,
 * grid unchanged, without a world or for another size. */
#define SIM_MSG_LOAD_CELL_BYTE_GRID 0xe4be0717u
/* Payload: CreateWorldHeader, CreateWorldCell[n], f32 targetTemperature[n]
 * (negative: no relaxation target; a cell never relaxes below 1 K, so a
 * target under 1 K holds it at 1 K), CreateWorldDisease[n], n = w * h, each
 * in game-cell order. Values are sanitised as LoadSaveGame's. Returns n; 0 when refused (size
 * out of range, short payload, an element or disease index beyond its table,
 * no vacuum or border element, the simulation running), previous world kept.
 * Does not start the simulation: save the world and LoadSaveGame the save. */
#define SIM_MSG_CREATE_WORLD 0x7aee0fb9u
/* No payload. Drops unstable solids onto the solid below them, clears the
 * germs of empty cells. Returns 0; refused with a report without a world. */
#define SIM_MSG_SETTLE_WORLD 0x39da19a9u
/* Payload: a "SIMSAVE" blob (versions 7 to 13; layout at SavedCell), consumed
 * exactly. Stops a running simulation, replaces the world and starts the
 * simulation thread. Returns the address of the first FrameResults; 0 when
 * refused (magic, version, size or length wrong; no vacuum or border
 * element), current world kept and still running. Loaded values are
 * sanitised: a non-finite temperature becomes 293 K, a non-finite mass 100 kg,
 * masses are capped at 1e9 kg, a negative or subnormal mass becomes 0, unknown
 * element ids become vacuum. */
#define SIM_MSG_LOAD_SAVE_GAME 0xd7e9e1c6u
/* Payload ignored. Returns 0. */
#define SIM_MSG_NO_OP 0xe7906e7du
/* Payload: SetWorldFlagsPayload: worldFlags = (worldFlags & ~clearBits) |
 * setBits (saved with the world). Returns 0, with or without a world. */
#define SIM_MSG_SET_WORLD_FLAGS 0x44cab6b9u

/* Frame-direct: act on the frame being filled; return 0. */
/* EndFramePayload: stores dt and the active region and closes the frame (at
 * most 30 closed frames wait for an exchange; beyond that they merge). */
#define SIM_MSG_END_FRAME 0xd1c97543u
/* SetFrameParametersPayload: the frame's parameters; the last one in a frame
 * wins; a frame without one keeps the world's current parameters. With a
 * warning, offGasFraction and temperatureRelaxRate are clamped into [0, 1],
 * buildingExchangeRate at 0 from below, and a value that is not finite keeps
 * the previous one. */
#define SIM_MSG_SET_FRAME_PARAMETERS 0x9bada664u

/* Queued on cells; a frame applies them in this order of kinds, each kind in
 * arrival order, before its physics steps. */
#define SIM_MSG_SET_CELL_INSULATION 0xca6dcf7fu   /* SetCellInsulationPayload: conduction byte = value * 255 */
#define SIM_MSG_SET_STRENGTH_MODIFIER 0x5ef6f94eu /* SetStrengthModifierPayload */
#define SIM_MSG_MODIFY_CELL_ENERGY 0x30c69504u    /* ModifyCellEnergyPayload: adds or removes heat */
#define SIM_MSG_SET_CELL_FLAGS 0xe406df65u        /* SetCellFlagsPayload: sets or clears cellFlags bits */
#define SIM_MSG_CONSUME_MASS 0x66f9f7e7u          /* ConsumeMassPayload -> consumeMassResults */
#define SIM_MSG_ADD_MASS 0x2f8570fbu              /* AddMassPayload -> addMassResults */
#define SIM_MSG_CONSUME_DISEASE 0xc3367400u       /* ConsumeDiseasePayload -> consumeDiseaseResults */
#define SIM_MSG_MODIFY_CELL_DISEASE 0x91833896u   /* ModifyCellDiseasePayload: adds or removes germs */
#define SIM_MSG_DIG_CELL 0x31a728a2u              /* DigCellPayload: empties a solid -> dugMatter, cellCallbacks */
#define SIM_MSG_MODIFY_CELL 0xb551f21cu           /* ModifyCellPayload: adds or replaces matter -> cellCallbacks */
#define SIM_MSG_SET_CELL_BYTE_GRID 0xe531d902u    /* SetCellByteGridPayload: one byte of the cell byte grid */

/* Queued on components. An add answers in componentCallbacks with the new
 * handle (SIM_NO_HANDLE when refused), a remove with SIM_NO_HANDLE; a modify
 * of a stale handle is ignored. */
#define SIM_MSG_ADD_MASS_CONSUMER 0x78a9f851u             /* AddMassConsumerPayload: an intake */
#define SIM_MSG_MODIFY_MASS_CONSUMER 0x5de8d41au          /* ModifyMassConsumerPayload */
#define SIM_MSG_REMOVE_MASS_CONSUMER 0x354fbb4eu          /* RemoveComponentPayload */
#define SIM_MSG_ADD_MASS_EMITTER 0xe1df1f33u              /* AddMassEmitterPayload: an outlet */
#define SIM_MSG_MODIFY_MASS_EMITTER 0x180e482cu           /* ModifyMassEmitterPayload */
#define SIM_MSG_REMOVE_MASS_EMITTER 0xa527ccf6u           /* RemoveComponentPayload */
#define SIM_MSG_ADD_ELEMENT_CHUNK 0x562bffb2u             /* AddElementChunkPayload: a loose item of matter */
#define SIM_MSG_REMOVE_ELEMENT_CHUNK 0xc9961ef5u          /* RemoveComponentPayload */
#define SIM_MSG_MOVE_ELEMENT_CHUNK 0xe9a74e82u            /* MoveElementChunkPayload */
#define SIM_MSG_SET_ELEMENT_CHUNK_DATA 0xe610a87du        /* SetElementChunkDataPayload */
#define SIM_MSG_MODIFY_ELEMENT_CHUNK_ENERGY 0x3cd47193u   /* ModifyElementChunkEnergyPayload */
#define SIM_MSG_MODIFY_ELEMENT_CHUNK_DATA 0xad4ae21du     /* ModifyElementChunkDataPayload: its storage */
#define SIM_MSG_ADD_BUILDING_HEAT_EXCHANGE 0x67a75d28u    /* AddBuildingHeatExchangePayload: a building */
#define SIM_MSG_MODIFY_BUILDING_HEAT_EXCHANGE 0x6c5c80a1u /* ModifyBuildingHeatExchangePayload */
#define SIM_MSG_MODIFY_BUILDING_ENERGY 0xaf9b1296u        /* ModifyBuildingEnergyPayload */
#define SIM_MSG_REMOVE_BUILDING_HEAT_EXCHANGE 0xe4d0366bu /* RemoveComponentPayload */
#define SIM_MSG_ADD_DISEASE_EMITTER 0x589e8233u           /* AddDiseaseEmitterPayload: a germ source */
#define SIM_MSG_MODIFY_DISEASE_EMITTER 0x8ecdab2cu        /* ModifyDiseaseEmitterPayload */
#define SIM_MSG_REMOVE_DISEASE_EMITTER 0x1be72ff6u        /* RemoveComponentPayload */
#define SIM_MSG_ADD_RESERVED_COMPONENT 0x14c35551u        /* AddReservedComponentPayload: a handle only */
#define SIM_MSG_MODIFY_RESERVED_COMPONENT 0x93576a98u     /* ModifyReservedComponentPayload */
#define SIM_MSG_REMOVE_RESERVED_COMPONENT 0xd169184eu     /* RemoveComponentPayload */

/* Extensions: ids outside the message catalogue; a host that never sends them
 * sees no difference. Both are immediate and act between cycles: they wait
 * for the cycle that the last ExchangeFrame released to publish, and keep the
 * simulation thread parked while they run. */
/* Extension. Payload: SetRandomSeedPayload. Sets the world's random seed and
 * puts the process-wide pass state (gas scan and drift directions, publication
 * counter) back to its start, so that a run from a save can be repeated.
 * Returns 1; 0 without a world or with a payload under 4 bytes (reported). */
#define SIM_MSG_SET_RANDOM_SEED 0x7e55e001u
/* Extension. No payload. Returns a 64-bit hash of the world's whole cell state
 * (the ten cell arrays, accumulator, flows, target temperatures, grid size and
 * random seed); equal states give equal hashes on every machine and with any
 * worker count. Returns 0 without a world. */
#define SIM_MSG_HASH_WORLD 0x7e55e002u

/* ------------------------------------------------------------------------- */
/* Payloads (packed, little-endian)                                          */
/* ------------------------------------------------------------------------- */

#pragma pack(push, 1)

/* Immediate payloads with a fixed part. ExchangeFrame and LoadCellByteGrid
 * carry one byte per game cell and nothing else; SettleWorld, NoOp and
 * HashWorld read no payload. */
typedef struct StoreRecordListPayload {
    int32_t count;
    uint64_t address; /* array of count StoreRecordListRecord in host memory */
} StoreRecordListPayload;
TS_CHECK_SIZE(StoreRecordListPayload, 12);
TS_CHECK_OFFSET(StoreRecordListPayload, address, 4);

/* One record of the host's StoreRecordList array: opaque, never read. */
typedef struct StoreRecordListRecord {
    uint8_t bytes[28];
} StoreRecordListRecord;
TS_CHECK_SIZE(StoreRecordListRecord, 28);

typedef struct SetWorldFlagsPayload {
    uint8_t clearBits;
    uint8_t setBits;
} SetWorldFlagsPayload;
TS_CHECK_SIZE(SetWorldFlagsPayload, 2);

/* Extension: SIM_MSG_SET_RANDOM_SEED. */
typedef struct SetRandomSeedPayload {
    uint32_t seed;
} SetRandomSeedPayload;
TS_CHECK_SIZE(SetRandomSeedPayload, 4);
TS_CHECK_OFFSET(SetRandomSeedPayload, seed, 0);

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
    float mass; /* kg to take; below 0 or not finite: nothing is taken (an empty take answers) */
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
    float fraction; /* of the cell's germs, rounded; a take below 0 (or NaN) takes none */
    int32_t maxCount;
} ConsumeDiseasePayload;
TS_CHECK_SIZE(ConsumeDiseasePayload, 16);
TS_CHECK_OFFSET(ConsumeDiseasePayload, maxCount, 12);

typedef struct ModifyCellDiseasePayload {
    int32_t gameCell;
    uint8_t diseaseIdx; /* 255: change the count of whatever disease the cell holds (none: no change) */
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

/* Written by SIM_BeginSave, read by LoadSaveGame: 8 magic bytes
 * (SIM_SAVE_MAGIC and a zero byte), i32 version, i32 width, i32 height (the
 * padded grid: game size + 2 each way), u8 worldFlags (version 13 only), then
 * SavedCell[N], SavedDisease[N] (version >= 9) and f32 targetTemperature[N]
 * (version >= 8); N = width * height, cells row-major from the bottom, border
 * included. Version 13 is 24 * N + 21 bytes. Ids, not indexes, are stored, so
 * a save survives a reordered table. Not saved: cellFlags, insulation,
 * strengthModifier, germ age, the cell byte grid and every component. */
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

/* Every list below is published once per cycle in FrameResults; a gameCell is
 * a host cell number (y * gameWidth + x). */

/* changedCells: a cell whose element may have changed, once per cell and
 * cycle, with the element before and after. */
typedef struct ChangedCellEntry {
    int32_t gameCell;
    uint8_t oldElementIdx;
    uint8_t newElementIdx;
    uint8_t unused6[2];
} ChangedCellEntry;
TS_CHECK_SIZE(ChangedCellEntry, 8);

/* releasedContents (matter handed to the host where a release
 * permit let it leave the grid),
 * emittedMatter (matter given off; one entry per cell and element, merged)
 * and dugMatter (what DigCell removed). */
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

/* fallingSolids: an unstable solid that started to fall, taken off the grid. */
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

/* pressureDamage: a solid that a liquid's overpressure broke. */
typedef struct PressureDamageEntry {
    int32_t solidGameCell;
    int32_t liquidGameCell;
} PressureDamageEntry;
TS_CHECK_SIZE(PressureDamageEntry, 8);

/* buildingOutputs: one entry per building slot (index = handle's slot). */
typedef struct BuildingOutputEntry {
    uint32_t handle;
    float temperature;
} BuildingOutputEntry;
TS_CHECK_SIZE(BuildingOutputEntry, 8);

/* consumeMassResults: what a ConsumeMass with a callbackId took. */
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

/* addMassResults: whether an AddMass with a callbackId was accepted (1) and
 * what it added; a refusal lists accepted 0, indexes 255 and zeros. */
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

/* consumeDiseaseResults: germs a ConsumeDisease with a callbackId removed;
 * diseaseIdx is the cell's disease afterwards (255 when emptied). */
typedef struct ConsumeDiseaseResult {
    uint32_t callbackId;
    uint8_t diseaseIdx;
    uint8_t unused5[3];
    int32_t countRemoved;
} ConsumeDiseaseResult;
TS_CHECK_SIZE(ConsumeDiseaseResult, 12);

/* sublimationEvents: a solid gave off gas (sublimateId of its element). */
typedef struct SublimationEvent {
    int32_t gameCell;
    uint32_t sublimateId;
    float angle; /* degrees */
} SublimationEvent;
TS_CHECK_SIZE(SublimationEvent, 12);

/* componentCallbacks: the answer to a component add or remove. */
typedef struct ComponentCallbackEntry {
    uint32_t callbackId;
    uint32_t handle; /* SIM_NO_HANDLE after a removal */
} ComponentCallbackEntry;
TS_CHECK_SIZE(ComponentCallbackEntry, 8);

/* solidChanges: a changed cell that became or stopped being solid. */
typedef struct SolidChangeEntry {
    int32_t gameCell;
    int32_t becameSolid; /* -1 when the new element is solid, else 0 */
} SolidChangeEntry;
TS_CHECK_SIZE(SolidChangeEntry, 8);

/* massConsumerOutputs: matter an intake took this cycle. */
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

/* massEmitterOutputs: one entry per outlet slot: what it emitted. */
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

/* elementChunkOutputs: one entry per item slot: its temperature and the
 * energy it exchanged this cycle. */
typedef struct ElementChunkOutput {
    float temperature;
    float energy;
} ElementChunkOutput;
TS_CHECK_SIZE(ElementChunkOutput, 8);

/* diseaseEmitterOutputs: one entry per germ source slot. */
typedef struct DiseaseEmitterOutput {
    uint8_t always255;
    uint8_t unused1[3];
    uint32_t zero;
} DiseaseEmitterOutput;
TS_CHECK_SIZE(DiseaseEmitterOutput, 8);

/* reservedComponentOutputs: always empty. */
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

/* The results of one cycle. Every pointer stays valid until the next
 * ExchangeFrame or world load. Per-cell arrays hold gameWidth * gameHeight
 * entries indexed by game cell (null when the world is empty); a list is a
 * count and a pointer (null when the count is 0). */
typedef struct FrameResults {
    int32_t frameCount; /* frames applied by the cycle (0: none closed) */
    const uint8_t* elementIdx;       /* element index per cell */
    const float* temperature;        /* kelvin */
    const float* mass;               /* kilograms */
    const uint8_t* cellFlags;        /* SIM_CELL_ bits */
    const uint8_t* insulation;       /* 255: full conduction */
    const uint8_t* strengthModifier;
    const uint8_t* diseaseIdx;       /* 255: no germs */
    const int32_t* diseaseCount;
    TS_LIST(SolidChangeEntry, solidChanges);
    TS_LIST(int32_t, liquidChangedCells);            /* changed cells with a liquid before or after */
    TS_LIST(int32_t, solidChangedCells);             /* changed cells with a solid before or after */
    TS_LIST(ChangedCellEntry, changedCells);
    TS_LIST(uint32_t, cellCallbacks);                /* callbackIds of DigCell and ModifyCell, emitter blocked/unblocked */
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
    TS_LIST(uint32_t, elementChunkEvents);           /* handles of items at their element's highTemp */
    TS_LIST(uint32_t, buildingsOverheated);          /* handles at or above overheatTemperature */
    TS_LIST(uint32_t, buildingsCooled);              /* handles that fell back below it */
    TS_LIST(uint32_t, buildingsAtHighTemp);          /* handles at their element's highTemp */
    TS_LIST(int32_t, flaggedTransitions);            /* cells with SIM_CELL_REPORT_TRANSITIONS that changed phase */
    TS_LIST(DiseaseEmitterOutput, diseaseEmitterOutputs);
    TS_LIST(ReservedComponentOutput, reservedComponentOutputs);
    const float* accumulatorCopy;  /* kg sublimated per cell since the last reset (every 15 cycles) */
    const float* flowVectors;      /* two per game cell: horizontal, vertical flow per kg */
    const uint32_t* liquidColours; /* alpha << 24 | RGB of the liquid, 0 elsewhere */
    const uint8_t* lightLevels;    /* 255: fully lit from above */
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

/* Call first. Tears down any earlier simulation (world, tables, thread) and
 * stores the callback (null: nothing is reported). Installs crash handlers. */
TS_API void SIM_Initialize(HostCallback callback);
/* Call last. Stops the simulation thread, destroys world and tables. */
TS_API void SIM_Shutdown(void);
/* Sends one message (SIM_MSG_ ids above); data is read during the call only.
 * Returns the immediate message's result, else 0; 0 for every id before
 * SIM_Initialize and after SIM_Shutdown. */
TS_API uint64_t SIM_HandleMessage(uint32_t id, int32_t size, const void* data);
/* Serialises the world as a version-13 "SIMSAVE" blob (waits for a running
 * cycle to end); the buffer is owned by the library until SIM_EndSave or the
 * next SIM_BeginSave. Returns null and length 0 without a world. */
TS_API const uint8_t* SIM_BeginSave(uint32_t* outLength);
/* Frees the save buffer; without one, does nothing. */
TS_API void SIM_EndSave(void);
/* Raises a breakpoint trap on the calling thread to exercise crash reporting. */
TS_API void SIM_DebugCrash(void);

/* Machine description as one JSON object; null when it cannot be built. The
 * text stays valid until SYSINFO_Release. */
TS_API const char* SYSINFO_Acquire(void);
/* Frees the text of SYSINFO_Acquire. */
TS_API void SYSINFO_Release(void);

/* The temperatures of pipe contents, outside the message queue and the world.
 * Without an initialised manager the calls do nothing (Add returns
 * SIM_NO_HANDLE, Update null). */
/* Creates the manager (replacing any earlier one). */
TS_API void ConduitTemperatureManager_Initialize(void);
/* Destroys the manager and its entries. */
TS_API void ConduitTemperatureManager_Shutdown(void);
/* Adds a packet of elementId (an element id, not an index) in the pipe
 * building buildingHandle (SIM_NO_HANDLE: none). Returns its handle. */
TS_API uint32_t ConduitTemperatureManager_Add(float temperature, float mass, uint32_t elementId,
                                              uint32_t buildingHandle, float buildingHeatCapacity,
                                              float buildingConductivity,
                                              uint8_t useLowerConductivity);
/* Replaces a packet's temperature, mass and element. */
TS_API void ConduitTemperatureManager_Set(uint32_t handle, float temperature, float mass,
                                          uint32_t elementId);
/* Removes a packet; its slot is reused only after two further cycles. */
TS_API void ConduitTemperatureManager_Remove(uint32_t handle);
/* Removes every packet. */
TS_API void ConduitTemperatureManager_Clear(void);
/* Exchanges heat over dt seconds between packets and their buildings
 * (buildingTemperatures: the frame's buildingOutputs) and queues the
 * buildings' share into the frame being filled. The result stays valid until
 * the next call into the manager. */
TS_API const UpdateResult* ConduitTemperatureManager_Update(
    float dt, const BuildingOutputEntry* buildingTemperatures);

#endif /* TESSELSIM_TESSELSIM_H */
