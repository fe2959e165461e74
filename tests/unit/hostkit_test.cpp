// The host kit: the table writers and the JSON loaders, the payload builders
// and the message catalogue, worlds and grids and the FrameResults view, and
// the "SIMSAVE" writer and reader.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "hostkit/bytes.h"
#include "hostkit/frameresults.h"
#include "hostkit/payloads.h"
#include "hostkit/savegame.h"
#include "hostkit/tables.h"
#include "hostkit/world.h"
#include "simlib/disease.h"
#include "simlib/elementtable.h"
#include "simlib/messagequeues.h"

namespace {

// --- tables -----------------------------------------------------------------

// The header pins the record layouts; the library's parsers read back what
// the writers wrote (the unit tests' own tables go through these writers too).
TEST(HostkitTables, PayloadsReadBackThroughTheLibrarysParsers) {
    tshost::ElementDesc water = tshost::MakeElement("Water", 0xAABBCCDDu, SIM_STATE_LIQUID);
    water.record.specificHeatCapacity = 4.18f;
    water.record.reserved104 = 0x01020304u;
    const tshost::ElementDesc elements[] = {water, tshost::MakeElement("Ice", 0x11223344u, SIM_STATE_SOLID)};
    const std::string e = tshost::ElementTablePayload(elements);
    ts::BinaryBufferReader elementReader(e.data(), int64_t(e.size()));
    ts::ElementTable parsedElements;
    std::string error;
    ASSERT_TRUE(ts::ParseElementTable(elementReader, parsedElements, error)) << error;
    ASSERT_EQ(parsedElements.count(), 2);
    EXPECT_EQ(parsedElements.elementNames, (std::vector<std::string>{"Water", "Ice"}));
    for (size_t i = 0; i < 2; ++i)
        EXPECT_EQ(std::memcmp(&parsedElements.records[i], &elements[i].record, sizeof(ElementRecord)), 0) << i;
    EXPECT_EQ(tshost::ElementTablePayload({}), std::string(4, '\0'));  // an empty table is the count alone

    tshost::DiseaseDesc d{"Germ", {}, {}};
    d.header.id = 0x0BADF00Du;
    d.header.competitionWeight = 2.0f;
    d.header.temperatureHalfLives[3] = std::numeric_limits<float>::infinity();
    d.growth = {{0.5f, -600.0f, 60.0f, 0.1f, 0.01f, 100.0f, 10, 3}, {1.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f, -1, 255}};
    const tshost::DiseaseDesc diseases[] = {d};
    const std::string b = tshost::DiseaseTablePayload(diseases, 2);
    ts::BinaryBufferReader diseaseReader(b.data(), int64_t(b.size()));
    ts::DiseaseTable parsed;
    ASSERT_TRUE(ts::ParseDiseaseTable(diseaseReader, 2, parsed, error)) << error;
    ASSERT_EQ(parsed.count(), 1);
    EXPECT_EQ(parsed.diseaseNames[0], "Germ");
    EXPECT_EQ(parsed.records[0].id, 0x0BADF00Du);
    EXPECT_EQ(parsed.records[0].competitionWeight, 2.0f);
    EXPECT_TRUE(std::isinf(parsed.records[0].temperatureHalfLives[3]));
    EXPECT_EQ(parsed.records[0].populationHalfLife[0], -600.0f);
    EXPECT_EQ(parsed.records[0].maxCountPerKg[0], 100.0f);
    EXPECT_EQ(parsed.records[0].minSpreadCount[1], -1);
    EXPECT_EQ(parsed.records[0].minSpreadAge[1], 255);
    // Growth entries must match the declared element count; no diseases: the two counts alone.
    EXPECT_THROW(tshost::DiseaseTablePayload(diseases, 3), std::invalid_argument);
    EXPECT_EQ(tshost::DiseaseTablePayload({}, 5), std::string("\0\0\0\0\5\0\0\0", 8));
}

TEST(HostkitTables, LookupsByNameAndId) {
    const tshost::ElementDesc table[] = {tshost::MakeElement("Vacuum", SIM_VACUUM_ELEMENT_ID, SIM_STATE_VACUUM),
                                         tshost::MakeElement("Rock", 7u, SIM_STATE_SOLID)};
    EXPECT_EQ(tshost::FindElement(table, "Rock"), 1);
    EXPECT_EQ(tshost::FindElement(table, "rock"), -1);
    EXPECT_EQ(tshost::FindElementById(table, SIM_VACUUM_ELEMENT_ID), 0);
    EXPECT_EQ(tshost::FindElementById(table, 8u), -1);
    EXPECT_EQ(tshost::ElementIndex(table, "Rock"), 1);
    EXPECT_THROW(tshost::ElementIndex(table, "Lava"), std::out_of_range);
}

// The JSON loaders of the sample tables (the tables themselves are loaded by
// every end-to-end test).
TEST(HostkitDataFiles, LoadersRejectMalformedTables) {
    // The loader's complaint about `text`, or "accepted".
    auto error = [](const auto& parse, const std::string& text) {
        try {
            parse(text);
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    auto elementsError = [&error](const std::string& text) { return error(tshost::ParseElementsJson, text); };
    const std::string ok = R"({"elements": [
        {"name": "Vacuum", "id": "0x2D39BF75", "state": "vacuum"},
        {"name": "Rock", "id": 7, "state": "solid", "high": {"temp": 1000, "target": "Lava"}},
        {"name": "Lava", "id": "0x00000008", "state": "liquid", "low": {"temp": 1000, "target": "Rock", "ore": "Rock", "oreMassConversion": 0.5}}]})";
    const auto parsed = tshost::ParseElementsJson(ok);
    ASSERT_EQ(parsed.size(), 3u);
    EXPECT_EQ(parsed[1].record.highTempTransitionIndex, 2);  // named later in the table
    EXPECT_EQ(parsed[2].record.lowTempTransitionIndex, 1);
    EXPECT_EQ(parsed[2].record.lowTempTransitionOreId, 7u);
    EXPECT_EQ(parsed[2].record.lowTempTransitionOreMassConversion, 0.5f);
    EXPECT_EQ(parsed[2].record.highTemp, SIM_MAX_TEMPERATURE);

    const std::pair<const char*, const char*> badElements[] = {
        {R"({"elements": [{"name": "A", "id": 1, "state": "solid", "maxmass": 5}]})", "unknown key \"maxmass\""},
        {R"({"elements": [{"name": "A", "id": 1, "state": "solid", "high": {"temp": 5, "target": "B"}}]})",
         "no element named \"B\""},
        {R"({"elements": [{"name": "A", "id": 1, "state": "solid"}, {"name": "B", "id": "0x1", "state": "gas"}]})",
         "duplicate id"},
        {R"({"elements": [{"name": "A", "id": 1, "state": "plasma"}]})", "state"},
        {R"({"elements": [{"name": "A", "id": "12", "state": "gas"}]})", "id"},
        {"{\"elements\": [", "elements"},
    };
    for (const auto& [text, fragment] : badElements)
        EXPECT_NE(elementsError(text).find(fragment), std::string::npos) << text;

    auto diseasesError = [&](const std::string& text) {
        return error([&parsed](const std::string& t) { tshost::ParseDiseasesJson(t, parsed); }, text);
    };
    const std::string base = R"("id": 5, "competitionWeight": 1, "temperatureThresholds": [1, 2, 3, 4],
        "temperatureHalfLives": [1, "infinity", 2, 3])";
    const std::string defaults = R"("default": {"underpopulationDeathRate": 0, "populationHalfLife": 10,
        "overpopulationHalfLife": 5, "spreadRate": 0.1, "minCountPerKg": 0, "maxCountPerKg": 10,
        "minSpreadCount": 1, "minSpreadAge": 2})";
    const auto diseases = tshost::ParseDiseasesJson(
        R"({"diseases": [{"name": "G", )" + base + R"(, "growth": {)" + defaults +
            R"(, "liquid": {"spreadRate": 0.5}, "elements": {"Lava": {"minSpreadAge": 9}}}}]})",
        parsed);
    ASSERT_EQ(diseases.size(), 1u);
    ASSERT_EQ(diseases[0].growth.size(), 3u);
    EXPECT_TRUE(std::isinf(diseases[0].header.temperatureHalfLives[1]));
    EXPECT_EQ(float(diseases[0].growth[1].spreadRate), 0.1f);
    EXPECT_EQ(float(diseases[0].growth[2].spreadRate), 0.5f);
    EXPECT_EQ(int(diseases[0].growth[2].minSpreadAge), 9);
    EXPECT_EQ(int(diseases[0].growth[1].minSpreadAge), 2);

    const std::string head = R"({"diseases": [{"name": "G", )";
    const std::string thresholds = R"("competitionWeight": 1, "temperatureHalfLives": [1, 1, 1, 1], "temperatureThresholds": )";
    const std::pair<std::string, const char*> badDiseases[] = {
        {head + base + R"(, "growth": {"default": {"spreadRate": 1}}}]})", "missing"},
        {head + base + R"(, "growth": {)" + defaults + R"(, "elements": {"Granite": {"spreadRate": 1}}}}]})",
         "no element named \"Granite\""},
        {head + R"("id": 0, )" + thresholds + R"([1, 2, 3, 4], "growth": {)" + defaults + "}}]}", "id 0"},
        {head + R"("id": 1, )" + thresholds + R"([4, 3, 2, 1], "growth": {)" + defaults + "}}]}", "ascend"},
    };
    for (const auto& [text, fragment] : badDiseases)
        EXPECT_NE(diseasesError(text).find(fragment), std::string::npos) << text;
}

// --- payloads and the message catalogue ---------------------------------------

// The payload builders against the wire layout of the message catalogue. The
// header's static asserts pin every offset; what a builder can still get
// wrong is the order of its arguments and garbage in the unused bytes, so
// each row spells out the expected bytes field by field.
using u8 = uint8_t;
struct Pad {
    size_t n;
};

void Put(std::string& out, Pad p) { out.append(p.n, '\0'); }
template <class T>
void Put(std::string& out, const T& v) {
    tshost::Append(out, v);
}
// The bytes of the given fields in order: int is i32, unsigned u32, float f32.
template <class... T>
std::string Wire(const T&... fields) {
    std::string out;
    (Put(out, fields), ...);
    return out;
}
template <class T>
std::string Bytes(const T& payload) {
    return Wire(payload);
}
std::string Hex(const std::string& b) {
    std::string out;
    char h[4];
    for (unsigned char c : b) out += (std::snprintf(h, sizeof h, "%02x ", c), h);
    return out;
}

TEST(HostkitPayloads, EveryBuilderPutsEachArgumentInItsField) {
    using namespace tshost;
    const struct {
        const char* name;
        std::string built, expected;
    } cases[] = {
        {"ModifyCell", Bytes(ModifyCell(0x01020304, 0xA0B0C0D0u, 301.5f, 12.25f, -7, 9, 2, 4, 1)),
         Wire(0x01020304, 0xA0B0C0D0u, 301.5f, 12.25f, -7, u8(9), u8(2), u8(4), u8(1))},
        {"AddMass", Bytes(AddMass(77, 5u, 3.5f, 280.0f, 1234, 6, 1)),
         Wire(77, 5u, 3.5f, 280.0f, 1234, u8(6), u8(1), Pad{2})},
        {"ConsumeMass", Bytes(ConsumeMass(11, 12u, 0.5f, 3, 4)), Wire(11, 12u, 0.5f, u8(3), u8(4), Pad{2})},
        {"ModifyCellEnergy", Bytes(ModifyCellEnergy(3, -50.0f, 400.0f, 99)), Wire(3, -50.0f, 400.0f, 99)},
        {"SetCellFlags", Bytes(SetCellFlags(8, 0x41, 1)), Wire(8, u8(0x41), u8(1), Pad{2})},
        {"ConsumeDisease", Bytes(ConsumeDisease(2, 3u, 0.25f, 500)), Wire(2, 3u, 0.25f, 500)},
        {"ModifyCellDisease", Bytes(ModifyCellDisease(6, 255, -40)), Wire(6, u8(255), Pad{3}, -40)},
        {"DigCell", Bytes(DigCell(10, 20u, 1)), Wire(10, 20u, u8(1), Pad{3})},
        {"SetCellByteGrid", Bytes(SetCellByteGrid(13, 0xEE)), Wire(13, u8(0xEE), Pad{3})},
        {"SetCellInsulation", Bytes(SetCellInsulation(4, 0.75f)), Wire(4, 0.75f)},
        {"SetStrengthModifier", Bytes(SetStrengthModifier(5, 2.5f)), Wire(5, 2.5f)},
        {"AddMassConsumer", Bytes(AddMassConsumer(40, 41u, 2, 1, 7)), Wire(40, 41u, u8(2), u8(1), u8(7), Pad{1})},
        {"ModifyMassConsumer", Bytes(ModifyMassConsumer(0x01000002u, 17, 0.3f)), Wire(0x01000002u, 17, 0.3f)},
        {"AddMassEmitter", Bytes(AddMassEmitter(2.5f, 1u, 2u, 3u)), Wire(2.5f, 1u, 2u, 3u)},
        {"ModifyMassEmitter", Bytes(ModifyMassEmitter(9u, 33, 1.5f, 0.2f, 310.0f, 1.8f, 250, 4, 3, 1)),
         Wire(9u, 33, 1.5f, 0.2f, 310.0f, 1.8f, 250, u8(4), u8(3), u8(1), Pad{1})},
        {"AddElementChunk", Bytes(AddElementChunk(21, 22u, 25.0f, 300.0f, 1.0f, 4.0f, 0.5f, 8)),
         Wire(21, 22u, 25.0f, 300.0f, 1.0f, 4.0f, 0.5f, u8(8), Pad{3})},
        {"MoveElementChunk", Bytes(MoveElementChunk(5u, 6)), Wire(5u, 6)},
        {"SetElementChunkData", Bytes(SetElementChunkData(5u, 290.0f, 12.0f)), Wire(5u, 290.0f, 12.0f)},
        {"ModifyElementChunkEnergy", Bytes(ModifyElementChunkEnergy(5u, -3.0f)), Wire(5u, -3.0f)},
        {"ModifyElementChunkData", Bytes(ModifyElementChunkData(5u, 280.0f, 8.0f, 0.6f)),
         Wire(5u, 280.0f, 8.0f, 0.6f)},
        // The add and modify messages of a building share the 40 bytes after their first field.
        {"AddBuildingHeatExchange",
         Bytes(AddBuildingHeatExchange(0xCAFEu, 12, 400.0f, 295.0f, 0.5f, 350.0f, 1.25f, 1, 2, 3, 4)),
         Wire(0xCAFEu, u8(12), Pad{3}, 400.0f, 295.0f, 0.5f, 350.0f, 1.25f, 1, 2, 3, 4)},
        {"ModifyBuildingHeatExchange",
         Bytes(ModifyBuildingHeatExchange(0xCAFEu, 12, 400.0f, 295.0f, 0.5f, 350.0f, 1.25f, 1, 2, 3, 4)),
         Wire(0xCAFEu, u8(12), Pad{3}, 400.0f, 295.0f, 0.5f, 350.0f, 1.25f, 1, 2, 3, 4)},
        {"ModifyBuildingEnergy", Bytes(ModifyBuildingEnergy(7u, 15.0f, 250.0f, 500.0f)),
         Wire(7u, 15.0f, 250.0f, 500.0f)},
        {"AddDiseaseEmitter", Bytes(AddDiseaseEmitter(0x51u)), Wire(0x51u)},
        {"ModifyDiseaseEmitter", Bytes(ModifyDiseaseEmitter(3u, 44, 1, 5, 2.0f, 1000)),
         Wire(3u, 44, u8(1), u8(5), Pad{2}, 2.0f, 1000)},
        {"AddReservedComponent", Bytes(AddReservedComponent(0x77u)), Wire(0x77u, Pad{8})},
        {"ModifyReservedComponent", Bytes(ModifyReservedComponent(0x78u)), Wire(0x78u, Pad{16})},
        {"RemoveMassConsumer", Bytes(RemoveMassConsumer(0x02000003u, 0x10u)), Wire(0x02000003u, 0x10u)},
        {"RemoveMassEmitter", Bytes(RemoveMassEmitter(0x02000003u, 0x10u)), Wire(0x02000003u, 0x10u)},
        {"RemoveElementChunk", Bytes(RemoveElementChunk(0x02000003u, 0x10u)), Wire(0x02000003u, 0x10u)},
        {"RemoveBuildingHeatExchange", Bytes(RemoveBuildingHeatExchange(0x02000003u, 0x10u)),
         Wire(0x02000003u, 0x10u)},
        {"RemoveDiseaseEmitter", Bytes(RemoveDiseaseEmitter(0x02000003u, 0x10u)), Wire(0x02000003u, 0x10u)},
        {"RemoveReservedComponent", Bytes(RemoveReservedComponent(0x02000003u, 0x10u)), Wire(0x02000003u, 0x10u)},
        {"EndFrame", Bytes(EndFrame(0.2f, 1, 2, 30, 40)), Wire(0.2f, 1, 2, 30, 40)},
        {"SetFrameParameters", Bytes(SetFrameParameters(0.1f, 0.2f, 0.3f, 0.4f, 0x101u)),
         Wire(0.1f, 0.2f, 0.3f, 0.4f, 0x101u)},
        {"StoreRecordList", Bytes(StoreRecordList(3, 0x1122334455667788ull)), Wire(3, uint64_t(0x1122334455667788ull))},
        {"SetWorldFlags", Bytes(SetWorldFlags(0x0F, 0x01)), Wire(u8(0x0F), u8(0x01))},
    };
    for (const auto& c : cases) EXPECT_EQ(Hex(c.built), Hex(c.expected)) << c.name;
}

// The host kit keeps its own message catalogue (it sees only the public
// header): every message once, the ten immediate ones first, and each queued
// one with the id, name and size of the library's queue list.
TEST(HostkitPayloads, CatalogueSaysWhatTheLibraryQueues) {
    const auto catalogue = tshost::MessageCatalogue();
    EXPECT_EQ(catalogue.size(), 45u);
    std::set<uint32_t> ids;
    int queued = 0, frameDirect = 0;
    for (const auto& m : catalogue) {
        EXPECT_TRUE(ids.insert(m.id).second) << m.name;
        EXPECT_EQ(tshost::FindMessage(m.id), &m);
        queued += m.kind == tshost::MessageKind::Queued;
        frameDirect += m.kind == tshost::MessageKind::FrameDirect;
        EXPECT_EQ(m.kind == tshost::MessageKind::Queued, ts::FindQueuedMessage(m.id) != nullptr) << m.name;
    }
    EXPECT_EQ(frameDirect, 2);
    EXPECT_EQ(queued, 33);
    EXPECT_EQ(tshost::FindMessage(0x12345678u), nullptr);
    for (size_t slot = 0; slot < ts::kUsedQueueCount; ++slot) {
        const ts::QueuedMessageInfo& library = ts::QueuedMessageOf(ts::QueueSlot(slot));
        const tshost::MessageInfo* host = tshost::FindMessage(library.id);
        ASSERT_NE(host, nullptr) << library.name;
        EXPECT_EQ(host->size, int32_t(library.size)) << library.name;
        EXPECT_EQ("k" + std::string(host->name), library.name);
    }
    // The sizes of the immediate and frame-direct ones (-1: depends on the content).
    for (size_t i = 0; i < 10; ++i) EXPECT_EQ(catalogue[i].kind, tshost::MessageKind::Immediate) << i;
    const std::pair<uint32_t, int32_t> sizes[] = {{0xd1c97543u, 20}, {0x9bada664u, 20}, {0xc88ce785u, 12},
                                                  {0x44cab6b9u, 2},  {0x39da19a9u, 0},  {0xe7906e7du, 0},
                                                  {0x7aee0fb9u, -1}};
    for (const auto& [id, size] : sizes) EXPECT_EQ(tshost::FindMessage(id)->size, size) << std::hex << id;
}

// --- CreateWorld and grid payloads, and the FrameResults view ------------------

// Every end-to-end world goes through the CreateWorld payload; here the
// parser's side, the exact length, Fill's clipping and the byte grids.
TEST(HostkitWorld, LayoutsAndGridPayloads) {
    tshost::WorldLayout world(3, 2, tshost::Matter(1, 300.0f, 1.5f));
    world.Fill(-2, 1, 2, 9, tshost::Matter(4, 280.0f, 1000.0f));  // clipped to (0, 1) and (1, 1)
    for (int32_t c = 0; c < 6; ++c) EXPECT_EQ(world.cells[size_t(c)].elementIdx, c == 3 || c == 4 ? 4 : 1) << c;
    EXPECT_EQ(tshost::WorldLayout(1, 1).at(0, 0).elementIdx, 255);
    world.at(2, 1) = tshost::WorldCell{1, 0x40, 17, 99, 300.0f, 1.5f, 310.0f, 1, 6, 12345};  // game cell 5, the last
    EXPECT_EQ(world.GameCell(2, 1), 5);
    const std::string b = tshost::CreateWorldPayload(world);
    ASSERT_EQ(b.size(), 8 + 28 * 6u);
    const auto parsed = tshost::ParseCreateWorldPayload(b);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(std::pair(parsed->width, parsed->height), std::pair(3, 2));
    EXPECT_EQ(parsed->cells, world.cells);
    EXPECT_FALSE(tshost::ParseCreateWorldPayload(b.substr(0, b.size() - 1)).has_value());
    EXPECT_FALSE(tshost::ParseCreateWorldPayload(b + 'x').has_value());
    world.cells.pop_back();
    EXPECT_THROW(tshost::CreateWorldPayload(world), std::invalid_argument);

    const std::vector<uint8_t> values{1, 2, 3, 4, 5, 6};
    EXPECT_EQ(tshost::CellByteGridPayload(3, 2, values), std::string("\x01\x02\x03\x04\x05\x06", 6));
    EXPECT_THROW(tshost::CellByteGridPayload(2, 2, values), std::invalid_argument);
    EXPECT_EQ(tshost::CellByteGridPayload(2, 3, uint8_t(9)), std::string(6, '\x09'));
    EXPECT_EQ(tshost::HostCellInput(5, 4, 1).size(), 20u);
}

// (Lists of a given count are read by every end-to-end test; here the
// per-cell spans, and counts that must read as empty.)
TEST(HostkitFrameResults, SpansFollowTheStructure) {
    const int32_t w = 3, h = 2;
    std::vector<uint8_t> element{0, 1, 2, 3, 4, 5};
    std::vector<int32_t> count{0, 0, 0, 0, 0, 77};
    std::vector<float> flow(2 * 6, 0.5f);
    MatterEntry dug[1] = {{2, 6, 255, {0, 0}, 3.0f, 300.0f, 0}};

    FrameResults r{};
    r.frameCount = 2;
    r.elementIdx = element.data();
    r.diseaseCount = count.data();
    r.flowVectors = flow.data();
    r.cellCallbacksCount = 3;  // a count without a list reads as empty
    r.emittedMatterCount = -1;
    r.emittedMatter = dug;

    const tshost::FrameResultsView v(&r, w, h);
    EXPECT_EQ(v.flowVectors().size(), 12u);
    EXPECT_TRUE(v.cellFlags().empty());
    EXPECT_TRUE(v.cellCallbacks().empty());
    EXPECT_TRUE(v.emittedMatter().empty());

    // (x, y) is row-major from the bottom row.
    const tshost::FrameCell c = v.cell(2, 1);
    EXPECT_EQ(c.elementIdx, 5);
    EXPECT_EQ(c.diseaseCount, 77);
    EXPECT_EQ(c.cellFlags, 0);  // not published
    EXPECT_EQ(v.cell(1, 0).elementIdx, 1);
    EXPECT_THROW(v.cell(6), std::out_of_range);
    EXPECT_THROW(v.cell(-1), std::out_of_range);

    const tshost::FrameResultsView none(nullptr, w, h);
    EXPECT_FALSE(none.valid());
    EXPECT_TRUE(none.mass().empty());
}

// --- the "SIMSAVE" writer and reader, over every version the library loads ---

// A 4 x 3 padded world whose every cell differs.
tshost::SaveGame SmallWorld() {
    tshost::SaveGame s = tshost::SaveGame::Empty(4, 3);
    s.worldFlags = 0x05;
    for (size_t i = 0; i < s.cells.size(); ++i) {
        s.cells[i] = {0x1000u + uint32_t(i), 250.0f + float(i), 0.5f * float(i)};
        s.diseases[i] = {i % 3 == 0 ? 0u : 0xD0u + uint32_t(i), int32_t(i) * 11};
        s.targetTemperature[i] = i % 2 ? -1.0f : 290.0f + float(i);
    }
    return s;
}

TEST(HostkitSaveGame, RoundTripsEveryVersionAtItsExactLength) {
    const tshost::SaveGame world = SmallWorld();
    struct Case {
        int32_t version;
        size_t length;
        bool flags, diseases, targets;
    };
    // N = 12: header 20 (+1 flag byte from 13), 12 N cells, 8 N diseases from
    // 9, 4 N target temperatures from 8.
    for (const Case c : {Case{13, 309, true, true, true}, Case{12, 308, false, true, true},
                         Case{11, 308, false, true, true}, Case{9, 308, false, true, true},
                         Case{8, 212, false, false, true}, Case{7, 164, false, false, false}}) {
        const std::string blob = tshost::WriteSaveGame(world, c.version);
        ASSERT_EQ(blob.size(), c.length);
        EXPECT_EQ(tshost::SaveLength(c.version, 12), c.length);
        const tshost::SaveReadResult read = tshost::ReadSaveGame(blob);
        ASSERT_TRUE(read) << read.error;
        const tshost::SaveGame& s = *read.save;
        EXPECT_EQ(s.version, c.version);
        EXPECT_EQ(s.worldFlags, c.flags ? 0x05 : 0);
        // What the version holds comes back; what it does not is empty.
        tshost::SaveGame expected = world;
        if (!c.diseases) expected.diseases.assign(12, SavedDisease{0, 0});
        if (!c.targets) expected.targetTemperature.assign(12, 0.0f);
        expected.worldFlags = s.worldFlags;
        EXPECT_EQ(tshost::WriteSaveGame(s), tshost::WriteSaveGame(expected));
    }
}

TEST(HostkitSaveGame, RefusesWhatCannotBeWrittenOrRead) {
    tshost::SaveGame world = SmallWorld();
    const std::string good = tshost::WriteSaveGame(world);
    EXPECT_THROW(tshost::WriteSaveGame(world, 6), std::invalid_argument);
    EXPECT_THROW(tshost::WriteSaveGame(world, 14), std::invalid_argument);
    world.diseases.pop_back();
    EXPECT_THROW(tshost::WriteSaveGame(world, 9), std::invalid_argument);
    // Version 8 does not store diseases: their count does not matter.
    EXPECT_EQ(tshost::WriteSaveGame(world, 8).size(), 212u);

    ASSERT_TRUE(tshost::ReadSaveGame(good));
    auto with = [&good](size_t offset, const std::string& bytes) { return std::string(good).replace(offset, bytes.size(), bytes); };
    auto i32 = [](int32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
    const std::pair<std::string, const char*> malformed[] = {
        {with(3, "X"), "magic"},
        {with(7, " "), "magic"},  // the eighth magic byte must be zero
        {good.substr(0, 5), "magic"},
        {good.substr(0, 14), "header"},
        {with(8, i32(14)), "version 14"},
        {with(8, i32(6)), "version 6"},
        {good + '\0', "must be 309 bytes, not 310"},
        {good.substr(0, good.size() - 1), "must be 309 bytes, not 308"},
        {with(8, i32(12)), "must be 308 bytes, not 309"},  // the same bytes labelled version 12: one byte too long
        {with(12, i32(2)), "dimensions"},
        {with(16, i32(2)), "dimensions"},
        {with(12, i32(-4)), "dimensions"},
        {with(12, i32(0x10000) + i32(0x10000)), "overflow"},
        {with(12, i32(0x40000000) + i32(4)), "overflow"},  // wraps to a small 32-bit product
    };
    for (const auto& [blob, why] : malformed) {
        const tshost::SaveReadResult r = tshost::ReadSaveGame(blob);
        EXPECT_FALSE(r.save.has_value()) << why;
        EXPECT_NE(r.error.find(why), std::string::npos) << r.error;
    }
}

}  // namespace
