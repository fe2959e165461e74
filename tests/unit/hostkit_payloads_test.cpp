// The payload builders against the wire layout of the message catalogue. The
// header's static asserts pin every offset; what a builder can still get
// wrong is the order of its arguments and garbage in the unused bytes, so
// each row spells out the expected bytes field by field.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "hostkit/bytes.h"
#include "hostkit/payloads.h"

namespace {

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

// Queued sizes are checked against the library's own list (messagecatalogue_test).
TEST(HostkitPayloads, CatalogueListsEveryMessageOnceImmediateOnesFirst) {
    const auto catalogue = tshost::MessageCatalogue();
    EXPECT_EQ(catalogue.size(), 45u);
    std::set<uint32_t> ids;
    int queued = 0, frameDirect = 0;
    for (const auto& m : catalogue) {
        EXPECT_TRUE(ids.insert(m.id).second) << m.name;
        EXPECT_EQ(tshost::FindMessage(m.id), &m);
        queued += m.kind == tshost::MessageKind::Queued;
        frameDirect += m.kind == tshost::MessageKind::FrameDirect;
    }
    EXPECT_EQ(frameDirect, 2);
    EXPECT_EQ(queued, 33);
    EXPECT_EQ(tshost::FindMessage(0x12345678u), nullptr);

    // The ten immediate messages first (their ids are the header's), then the
    // sizes of those and of the frame-direct ones (-1: depends on the content).
    for (size_t i = 0; i < 10; ++i) EXPECT_EQ(catalogue[i].kind, tshost::MessageKind::Immediate) << i;
    const std::pair<uint32_t, int32_t> sizes[] = {{0xd1c97543u, 20}, {0x9bada664u, 20}, {0xc88ce785u, 12},
                                                  {0x44cab6b9u, 2},  {0x39da19a9u, 0},  {0xe7906e7du, 0},
                                                  {0x7aee0fb9u, -1}};
    for (const auto& [id, size] : sizes) EXPECT_EQ(tshost::FindMessage(id)->size, size) << std::hex << id;
}

}  // namespace
