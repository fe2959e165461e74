/* A plain C99 host: builds its own element table, creates a 16 x 12 world with
 * a block of water in the air, saves and reloads it to start the simulation,
 * runs 50 frames and reads each frame's results. Build against the installed
 * package:  cc -std=c99 c_host.c $(pkg-config --cflags --libs tesselsim)      */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <tesselsim/tesselsim.h>

enum { W = 16, H = 12, FRAMES = 50, VACUUM = 0, BEDROCK = 1, OXYGEN = 2, WATER = 3 };
static int reports = 0;

static void OnReport(int32_t code, void* record) {
    if (code == SIM_CALLBACK_ASSERTION)
        fprintf(stderr, "library report: %s\n", ((const SimAssertionReport*)record)->message);
    ++reports;
}

static ElementRecord Element(uint32_t id, uint8_t flags, float heatCapacity, float conductivity, float maxMass) {
    ElementRecord e;
    memset(&e, 0, sizeof e);
    e.id = id;
    e.stateFlags = flags;
    e.lowTempTransitionIndex = e.highTempTransitionIndex = e.sublimateIndex = SIM_NO_ELEMENT; /* none */
    e.lowTempTransitionOreId = e.highTempTransitionOreId = SIM_VACUUM_ELEMENT_ID;             /* no ore */
    e.highTemp = SIM_MAX_TEMPERATURE;
    e.specificHeatCapacity = heatCapacity;
    e.thermalConductivity = conductivity;
    e.contactWithSolidFactor = e.contactWithLiquidFactor = e.contactWithGasFactor = 1.0f;
    e.maxMass = e.defaultMass = maxMass;
    return e;
}

static uint64_t Send(uint32_t id, const void* payload, size_t size) {
    return SIM_HandleMessage(id, (int32_t)size, payload);
}

int main(void) {
    static const char* names[4] = {"Vacuum", "Bedrock", "Oxygen", "Water"};
    ElementRecord table[4];
    unsigned char elementPayload[4 + sizeof table + 4 * 16], *p = elementPayload;
    int32_t count = 4, i, f;
    SetRandomSeedPayload seed = {42};
    float start = 0.0f, end = 0.0f;
    const FrameResults* r;

    printf("tesselsim %s (%d)\n", TESSELSIM_VERSION_STRING, TESSELSIM_VERSION);
    SIM_Initialize(OnReport);

    /* The table needs the vacuum and the border element; indexes are table positions. */
    table[VACUUM] = Element(SIM_VACUUM_ELEMENT_ID, SIM_STATE_VACUUM, 0.0f, 0.0f, 0.0f);
    table[BEDROCK] = Element(SIM_BORDER_ELEMENT_ID, SIM_STATE_SOLID | SIM_ELEMENT_UNBREAKABLE | SIM_ELEMENT_NO_HEAT_EXCHANGE,
                             0.8f, 0.0f, 9999.0f);
    table[OXYGEN] = Element(0xD5F50DD1u, SIM_STATE_GAS, 0.918f, 0.0263f, 1.8f);
    table[OXYGEN].flow = 0.12f;
    table[OXYGEN].weight = 32.0f;
    table[WATER] = Element(0xD63556B0u, SIM_STATE_LIQUID, 4.18f, 0.6f, 1000.0f);
    table[WATER].weight = 1000.0f;
    table[WATER].maxFlow = 500.0f;
    table[WATER].minHorizontalFlow = table[WATER].minVerticalFlow = 0.01f;
    memcpy(p, &count, 4), p += 4;
    memcpy(p, table, sizeof table), p += sizeof table;
    for (i = 0; i < 4; ++i) {
        int32_t length = (int32_t)strlen(names[i]);
        memcpy(p, &length, 4), p += 4;
        memcpy(p, names[i], (size_t)length), p += length;
    }
    if (Send(SIM_MSG_LOAD_ELEMENT_TABLE, elementPayload, (size_t)(p - elementPayload)) != 4) return 1;

    { /* CreateWorld: header, cells, target temperatures, diseases. */
        size_t n = (size_t)W * H, size = sizeof(CreateWorldHeader) + n * (sizeof(CreateWorldCell) + 4 + sizeof(CreateWorldDisease));
        unsigned char* world = calloc(1, size);
        CreateWorldHeader header = {W, H};
        CreateWorldCell* cells = (CreateWorldCell*)(world + sizeof header);
        float* targets = (float*)(cells + n);
        CreateWorldDisease* germs = (CreateWorldDisease*)(targets + n);
        memcpy(world, &header, sizeof header);
        for (i = 0; i < (int32_t)n; ++i) {
            int x = i % W, y = i / W; /* game cell = y * W + x, row 0 at the bottom */
            int water = y >= 7 && y < 11 && x >= 5 && x < 11;
            CreateWorldCell c = {0, 0, 255, 132, 295.0f, 1.0f};
            c.elementIdx = water ? WATER : OXYGEN;
            c.mass = water ? 800.0f : 1.0f;
            cells[i] = c;
            targets[i] = -1.0f; /* no relaxation target */
            germs[i].diseaseIdx = SIM_NO_DISEASE;
        }
        if (Send(SIM_MSG_CREATE_WORLD, world, size) != n) return 1;
        free(world);
    }
    { /* A save of the created world starts the simulation when loaded. */
        uint32_t length = 0;
        const uint8_t* save = SIM_BeginSave(&length);
        unsigned char* copy = malloc(length);
        memcpy(copy, save, length);
        SIM_EndSave();
        r = (const FrameResults*)(uintptr_t)Send(SIM_MSG_LOAD_SAVE_GAME, copy, length);
        free(copy);
        if (r == NULL) return 1;
    }
    if (Send(SIM_MSG_SET_RANDOM_SEED, &seed, sizeof seed) != 1) return 1; /* extension: a repeatable run */

    for (f = 0; f < FRAMES; ++f) {
        static uint8_t input[W * H]; /* release permits: none */
        SetFrameParametersPayload params = {0.001f, 0.01f, 0.001f, 0.001f, 0};
        EndFramePayload frame = {0.2f, 0, 0, W, H};
        float water = 0.0f;
        Send(SIM_MSG_SET_FRAME_PARAMETERS, &params, sizeof params);
        Send(SIM_MSG_END_FRAME, &frame, sizeof frame);
        r = (const FrameResults*)(uintptr_t)Send(SIM_MSG_EXCHANGE_FRAME, input, sizeof input);
        if (r == NULL) return 1;
        /* Arrays hold one entry per game cell; elementIdx is a position in our table. */
        for (i = 0; i < W * H; ++i)
            if (r->elementIdx[i] == WATER) water += r->mass[i];
        if (f == 0) start = water;
        end = water;
        if (f % 10 == 0) printf("frame %2d: %d frame(s) applied, %d cells changed element\n", f, r->frameCount, r->changedCellsCount);
    }
    printf("water: %.1f kg at the start, %.1f kg at the end\n", start, end);
    printf("world hash %016llx\n", (unsigned long long)Send(SIM_MSG_HASH_WORLD, NULL, 0));
    SIM_Shutdown();
    printf("reports: %d\n", reports);
    return reports == 0 && end > 0.999f * start && end < 1.001f * start ? 0 : 1;
}
