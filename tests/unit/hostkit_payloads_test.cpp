// The payload builders against the wire layout of the message catalogue: every
// offset below is written from the catalogue, not taken from the header, so a
// builder that fills the wrong field or leaves garbage in unused bytes fails.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "common/testio.h"
#include "hostkit/payloads.h"

namespace {

using Bytes = std::vector<uint8_t>;

template <class T>
Bytes BytesOf(const T& payload) {
    Bytes b(sizeof(T));
    std::memcpy(b.data(), &payload, sizeof(T));
    return b;
}

using tstest::At;

void ExpectZero(const Bytes& b, size_t offset, size_t count) {
    for (size_t i = offset; i < offset + count; ++i) EXPECT_EQ(b[i], 0) << "unused byte " << i;
}

TEST(HostkitPayloads, CellMessagesPutEachFieldAtItsOffset) {
    Bytes b = BytesOf(tshost::ModifyCell(0x01020304, 0xA0B0C0D0u, 301.5f, 12.25f, -7, 9, 2, 4, 1));
    ASSERT_EQ(b.size(), 24u);
    EXPECT_EQ(At<int32_t>(b, 0), 0x01020304);
    EXPECT_EQ(At<uint32_t>(b, 4), 0xA0B0C0D0u);
    EXPECT_EQ(At<float>(b, 8), 301.5f);
    EXPECT_EQ(At<float>(b, 12), 12.25f);
    EXPECT_EQ(At<int32_t>(b, 16), -7);
    EXPECT_EQ(b[20], 9);
    EXPECT_EQ(b[21], 2);
    EXPECT_EQ(b[22], 4);
    EXPECT_EQ(b[23], 1);

    b = BytesOf(tshost::AddMass(77, 5u, 3.5f, 280.0f, 1234, 6, 1));
    ASSERT_EQ(b.size(), 24u);
    EXPECT_EQ(At<int32_t>(b, 0), 77);
    EXPECT_EQ(At<uint32_t>(b, 4), 5u);
    EXPECT_EQ(At<float>(b, 8), 3.5f);
    EXPECT_EQ(At<float>(b, 12), 280.0f);
    EXPECT_EQ(At<int32_t>(b, 16), 1234);
    EXPECT_EQ(b[20], 6);
    EXPECT_EQ(b[21], 1);
    ExpectZero(b, 22, 2);

    b = BytesOf(tshost::ConsumeMass(11, 12u, 0.5f, 3, 4));
    ASSERT_EQ(b.size(), 16u);
    EXPECT_EQ(At<int32_t>(b, 0), 11);
    EXPECT_EQ(At<uint32_t>(b, 4), 12u);
    EXPECT_EQ(At<float>(b, 8), 0.5f);
    EXPECT_EQ(b[12], 3);
    EXPECT_EQ(b[13], 4);
    ExpectZero(b, 14, 2);

    b = BytesOf(tshost::ModifyCellEnergy(3, -50.0f, 400.0f, 99));
    ASSERT_EQ(b.size(), 16u);
    EXPECT_EQ(At<int32_t>(b, 0), 3);
    EXPECT_EQ(At<float>(b, 4), -50.0f);
    EXPECT_EQ(At<float>(b, 8), 400.0f);
    EXPECT_EQ(At<int32_t>(b, 12), 99);

    b = BytesOf(tshost::SetCellFlags(8, 0x41, 1));
    ASSERT_EQ(b.size(), 8u);
    EXPECT_EQ(At<int32_t>(b, 0), 8);
    EXPECT_EQ(b[4], 0x41);
    EXPECT_EQ(b[5], 1);
    ExpectZero(b, 6, 2);

    b = BytesOf(tshost::ConsumeDisease(2, 3u, 0.25f, 500));
    ASSERT_EQ(b.size(), 16u);
    EXPECT_EQ(At<float>(b, 8), 0.25f);
    EXPECT_EQ(At<int32_t>(b, 12), 500);

    b = BytesOf(tshost::ModifyCellDisease(6, 255, -40));
    ASSERT_EQ(b.size(), 12u);
    EXPECT_EQ(At<int32_t>(b, 0), 6);
    EXPECT_EQ(b[4], 255);
    ExpectZero(b, 5, 3);
    EXPECT_EQ(At<int32_t>(b, 8), -40);

    b = BytesOf(tshost::DigCell(10, 20u, 1));
    ASSERT_EQ(b.size(), 12u);
    EXPECT_EQ(At<uint32_t>(b, 4), 20u);
    EXPECT_EQ(b[8], 1);
    ExpectZero(b, 9, 3);

    b = BytesOf(tshost::SetCellByteGrid(13, 0xEE));
    ASSERT_EQ(b.size(), 8u);
    EXPECT_EQ(At<int32_t>(b, 0), 13);
    EXPECT_EQ(b[4], 0xEE);
    ExpectZero(b, 5, 3);

    b = BytesOf(tshost::SetCellInsulation(4, 0.75f));
    EXPECT_EQ(At<int32_t>(b, 0), 4);
    EXPECT_EQ(At<float>(b, 4), 0.75f);
    b = BytesOf(tshost::SetStrengthModifier(5, 2.5f));
    EXPECT_EQ(At<int32_t>(b, 0), 5);
    EXPECT_EQ(At<float>(b, 4), 2.5f);
}

TEST(HostkitPayloads, ComponentMessagesPutEachFieldAtItsOffset) {
    Bytes b = BytesOf(tshost::AddMassConsumer(40, 41u, 2, 1, 7));
    ASSERT_EQ(b.size(), 12u);
    EXPECT_EQ(At<int32_t>(b, 0), 40);
    EXPECT_EQ(At<uint32_t>(b, 4), 41u);
    EXPECT_EQ(b[8], 2);
    EXPECT_EQ(b[9], 1);
    EXPECT_EQ(b[10], 7);
    ExpectZero(b, 11, 1);

    b = BytesOf(tshost::ModifyMassConsumer(0x01000002u, 17, 0.3f));
    EXPECT_EQ(At<uint32_t>(b, 0), 0x01000002u);
    EXPECT_EQ(At<int32_t>(b, 4), 17);
    EXPECT_EQ(At<float>(b, 8), 0.3f);

    b = BytesOf(tshost::AddMassEmitter(2.5f, 1u, 2u, 3u));
    ASSERT_EQ(b.size(), 16u);
    EXPECT_EQ(At<float>(b, 0), 2.5f);
    EXPECT_EQ(At<uint32_t>(b, 4), 1u);
    EXPECT_EQ(At<uint32_t>(b, 8), 2u);
    EXPECT_EQ(At<uint32_t>(b, 12), 3u);

    b = BytesOf(tshost::ModifyMassEmitter(9u, 33, 1.5f, 0.2f, 310.0f, 1.8f, 250, 4, 3, 1));
    ASSERT_EQ(b.size(), 32u);
    EXPECT_EQ(At<uint32_t>(b, 0), 9u);
    EXPECT_EQ(At<int32_t>(b, 4), 33);
    EXPECT_EQ(At<float>(b, 8), 1.5f);
    EXPECT_EQ(At<float>(b, 12), 0.2f);
    EXPECT_EQ(At<float>(b, 16), 310.0f);
    EXPECT_EQ(At<float>(b, 20), 1.8f);
    EXPECT_EQ(At<int32_t>(b, 24), 250);
    EXPECT_EQ(b[28], 4);
    EXPECT_EQ(b[29], 3);
    EXPECT_EQ(b[30], 1);
    ExpectZero(b, 31, 1);

    b = BytesOf(tshost::AddElementChunk(21, 22u, 25.0f, 300.0f, 1.0f, 4.0f, 0.5f, 8));
    ASSERT_EQ(b.size(), 32u);
    EXPECT_EQ(At<int32_t>(b, 0), 21);
    EXPECT_EQ(At<uint32_t>(b, 4), 22u);
    EXPECT_EQ(At<float>(b, 8), 25.0f);
    EXPECT_EQ(At<float>(b, 12), 300.0f);
    EXPECT_EQ(At<float>(b, 16), 1.0f);
    EXPECT_EQ(At<float>(b, 20), 4.0f);
    EXPECT_EQ(At<float>(b, 24), 0.5f);
    EXPECT_EQ(b[28], 8);
    ExpectZero(b, 29, 3);

    b = BytesOf(tshost::MoveElementChunk(5u, 6));
    EXPECT_EQ(At<uint32_t>(b, 0), 5u);
    EXPECT_EQ(At<int32_t>(b, 4), 6);
    b = BytesOf(tshost::SetElementChunkData(5u, 290.0f, 12.0f));
    EXPECT_EQ(At<float>(b, 4), 290.0f);
    EXPECT_EQ(At<float>(b, 8), 12.0f);
    b = BytesOf(tshost::ModifyElementChunkEnergy(5u, -3.0f));
    EXPECT_EQ(At<float>(b, 4), -3.0f);
    b = BytesOf(tshost::ModifyElementChunkData(5u, 280.0f, 8.0f, 0.6f));
    EXPECT_EQ(At<float>(b, 4), 280.0f);
    EXPECT_EQ(At<float>(b, 8), 8.0f);
    EXPECT_EQ(At<float>(b, 12), 0.6f);

    // The add and modify messages of a building share the 40 bytes after their
    // first field.
    for (const Bytes& building :
         {BytesOf(tshost::AddBuildingHeatExchange(0xCAFEu, 12, 400.0f, 295.0f, 0.5f, 350.0f, 1.25f, 1, 2, 3, 4)),
          BytesOf(tshost::ModifyBuildingHeatExchange(0xCAFEu, 12, 400.0f, 295.0f, 0.5f, 350.0f, 1.25f, 1, 2, 3, 4))}) {
        ASSERT_EQ(building.size(), 44u);
        EXPECT_EQ(At<uint32_t>(building, 0), 0xCAFEu);
        EXPECT_EQ(building[4], 12);
        ExpectZero(building, 5, 3);
        EXPECT_EQ(At<float>(building, 8), 400.0f);
        EXPECT_EQ(At<float>(building, 12), 295.0f);
        EXPECT_EQ(At<float>(building, 16), 0.5f);
        EXPECT_EQ(At<float>(building, 20), 350.0f);
        EXPECT_EQ(At<float>(building, 24), 1.25f);
        EXPECT_EQ(At<int32_t>(building, 28), 1);
        EXPECT_EQ(At<int32_t>(building, 32), 2);
        EXPECT_EQ(At<int32_t>(building, 36), 3);
        EXPECT_EQ(At<int32_t>(building, 40), 4);
    }

    b = BytesOf(tshost::ModifyBuildingEnergy(7u, 15.0f, 250.0f, 500.0f));
    ASSERT_EQ(b.size(), 16u);
    EXPECT_EQ(At<float>(b, 4), 15.0f);
    EXPECT_EQ(At<float>(b, 8), 250.0f);
    EXPECT_EQ(At<float>(b, 12), 500.0f);

    b = BytesOf(tshost::AddDiseaseEmitter(0x51u));
    ASSERT_EQ(b.size(), 4u);
    EXPECT_EQ(At<uint32_t>(b, 0), 0x51u);

    b = BytesOf(tshost::ModifyDiseaseEmitter(3u, 44, 1, 5, 2.0f, 1000));
    ASSERT_EQ(b.size(), 20u);
    EXPECT_EQ(At<int32_t>(b, 4), 44);
    EXPECT_EQ(b[8], 1);
    EXPECT_EQ(b[9], 5);
    ExpectZero(b, 10, 2);
    EXPECT_EQ(At<float>(b, 12), 2.0f);
    EXPECT_EQ(At<int32_t>(b, 16), 1000);

    b = BytesOf(tshost::AddReservedComponent(0x77u));
    ASSERT_EQ(b.size(), 12u);
    EXPECT_EQ(At<uint32_t>(b, 0), 0x77u);
    ExpectZero(b, 4, 8);
    b = BytesOf(tshost::ModifyReservedComponent(0x78u));
    ASSERT_EQ(b.size(), 20u);
    EXPECT_EQ(At<uint32_t>(b, 0), 0x78u);
    ExpectZero(b, 4, 16);

    for (const Bytes& remove :
         {BytesOf(tshost::RemoveMassConsumer(0x02000003u, 0x10u)), BytesOf(tshost::RemoveMassEmitter(0x02000003u, 0x10u)),
          BytesOf(tshost::RemoveElementChunk(0x02000003u, 0x10u)),
          BytesOf(tshost::RemoveBuildingHeatExchange(0x02000003u, 0x10u)),
          BytesOf(tshost::RemoveDiseaseEmitter(0x02000003u, 0x10u)),
          BytesOf(tshost::RemoveReservedComponent(0x02000003u, 0x10u))}) {
        ASSERT_EQ(remove.size(), 8u);
        EXPECT_EQ(At<uint32_t>(remove, 0), 0x02000003u);
        EXPECT_EQ(At<uint32_t>(remove, 4), 0x10u);
    }
}

TEST(HostkitPayloads, FrameAndImmediateMessagesPutEachFieldAtItsOffset) {
    Bytes b = BytesOf(tshost::EndFrame(0.2f, 1, 2, 30, 40));
    ASSERT_EQ(b.size(), 20u);
    EXPECT_EQ(At<float>(b, 0), 0.2f);
    EXPECT_EQ(At<int32_t>(b, 4), 1);
    EXPECT_EQ(At<int32_t>(b, 8), 2);
    EXPECT_EQ(At<int32_t>(b, 12), 30);
    EXPECT_EQ(At<int32_t>(b, 16), 40);

    b = BytesOf(tshost::SetFrameParameters(0.1f, 0.2f, 0.3f, 0.4f, 0x101u));
    ASSERT_EQ(b.size(), 20u);
    EXPECT_EQ(At<float>(b, 0), 0.1f);
    EXPECT_EQ(At<float>(b, 4), 0.2f);
    EXPECT_EQ(At<float>(b, 8), 0.3f);
    EXPECT_EQ(At<float>(b, 12), 0.4f);
    EXPECT_EQ(At<uint32_t>(b, 16), 0x101u);

    b = BytesOf(tshost::StoreRecordList(3, 0x1122334455667788ull));
    ASSERT_EQ(b.size(), 12u);
    EXPECT_EQ(At<int32_t>(b, 0), 3);
    EXPECT_EQ(At<uint64_t>(b, 4), 0x1122334455667788ull);

    b = BytesOf(tshost::SetWorldFlags(0x0F, 0x01));
    ASSERT_EQ(b.size(), 2u);
    EXPECT_EQ(b[0], 0x0F);
    EXPECT_EQ(b[1], 0x01);
}

TEST(HostkitPayloads, CatalogueListsEveryMessageOnceWithItsSize) {
    const auto catalogue = tshost::MessageCatalogue();
    EXPECT_EQ(catalogue.size(), 45u);
    std::set<uint32_t> ids;
    int queued = 0, frameDirect = 0, immediate = 0;
    for (const auto& m : catalogue) {
        EXPECT_TRUE(ids.insert(m.id).second) << m.name;
        EXPECT_EQ(tshost::FindMessage(m.id), &m);
        queued += m.kind == tshost::MessageKind::Queued;
        frameDirect += m.kind == tshost::MessageKind::FrameDirect;
        immediate += m.kind == tshost::MessageKind::Immediate;
    }
    EXPECT_EQ(immediate, 10);
    EXPECT_EQ(frameDirect, 2);
    EXPECT_EQ(queued, 33);
    EXPECT_EQ(tshost::FindMessage(0x12345678u), nullptr);

    // Immediate messages come first, in the library's dispatch order.
    const uint32_t dispatchOrder[] = {0x404a7123u, 0x421169eau, 0xc88ce785u, 0x31311bafu, 0xe4be0717u,
                                      0x7aee0fb9u, 0x39da19a9u, 0xd7e9e1c6u, 0xe7906e7du, 0x44cab6b9u};
    for (size_t i = 0; i < 10; ++i) EXPECT_EQ(catalogue[i].id, dispatchOrder[i]) << i;

    // Sizes as the catalogue gives them (bytes a queued copy takes).
    const std::pair<uint32_t, int32_t> sizes[] = {
        {0xd1c97543u, 20}, {0x9bada664u, 20}, {0xca6dcf7fu, 8},  {0x5ef6f94eu, 8},  {0x30c69504u, 16},
        {0xe406df65u, 8},  {0x66f9f7e7u, 16}, {0x2f8570fbu, 24}, {0xc3367400u, 16}, {0x91833896u, 12},
        {0x31a728a2u, 12}, {0xb551f21cu, 24}, {0xe531d902u, 8},  {0x78a9f851u, 12}, {0x5de8d41au, 12},
        {0x354fbb4eu, 8},  {0xe1df1f33u, 16}, {0x180e482cu, 32}, {0xa527ccf6u, 8},  {0x562bffb2u, 32},
        {0xc9961ef5u, 8},  {0xe9a74e82u, 8},  {0xe610a87du, 12}, {0x3cd47193u, 8},  {0xad4ae21du, 16},
        {0x67a75d28u, 44}, {0x6c5c80a1u, 44}, {0xaf9b1296u, 16}, {0xe4d0366bu, 8},  {0x589e8233u, 4},
        {0x8ecdab2cu, 20}, {0x1be72ff6u, 8},  {0x14c35551u, 12}, {0x93576a98u, 20}, {0xd169184eu, 8},
        {0xc88ce785u, 12}, {0x44cab6b9u, 2},  {0x39da19a9u, 0},  {0xe7906e7du, 0},  {0x7aee0fb9u, -1}};
    for (const auto& [id, size] : sizes) {
        const tshost::MessageInfo* m = tshost::FindMessage(id);
        ASSERT_NE(m, nullptr) << std::hex << id;
        EXPECT_EQ(m->size, size) << m->name;
    }
}

}  // namespace
