// The conduit temperature manager through its exports, in-process: the
// exchange with pipe buildings, the energy it queues for them, the freeze and
// boil lists, delayed removals and bad input.
#include "conduittemperaturemanager/conduittemperaturemanager.h"
#include "hostapi/runtime.h"
#include "unit/inprocesshost.h"

namespace tstest {
namespace {

constexpr uint32_t kWaterId = 0x1002;

class Conduits : public InProcessHost {
protected:
    void SetUp() override {
        InProcessHost::SetUp();
        // Water with unit heat capacity and conductivity keeps the numbers plain.
        elements.records[kWater].specificHeatCapacity = 1.0f;
        elements.records[kWater].thermalConductivity = 1.0f;
        elements.records[kWater].defaultTemperature = 300.0f;
        LoadTables(elements);
        ConduitTemperatureManager_Initialize();
    }
    void TearDown() override {
        ConduitTemperatureManager_Shutdown();
        InProcessHost::TearDown();
    }
    // What the manager queued into the frame the host is filling.
    static std::vector<ModifyBuildingEnergyPayload> Queued() {
        ts::MessageQueue& q = ts::GetRuntime().simThread->frameManager().currentFrame().queue(ts::kModifyBuildingEnergy);
        std::vector<ModifyBuildingEnergyPayload> out;
        for (size_t i = 0; i < q.count(); ++i) out.push_back(q.Get<ModifyBuildingEnergyPayload>(i));
        return out;
    }
    static uint32_t Add(float t, uint32_t building, float buildingHeatCapacity = 10.0f,
                        float buildingConductivity = 0.1f, uint8_t useLower = 0) {
        return ConduitTemperatureManager_Add(t, 1.0f, kWaterId, building, buildingHeatCapacity, buildingConductivity,
                                             useLower);
    }
};

TEST_F(Conduits, ExchangeWithThePipeBuilding) {
    Add(310.0f, 0x00000000u, 10.0f, 0.1f, 1);                         // k = min(1, 0.1)
    const uint32_t mean = Add(310.0f, 0x00000001u, 10.0f, 0.1f, 0);   // k = (1 + 0.1) / 2
    const uint32_t loose = Add(310.0f, SIM_NO_HANDLE);
    EXPECT_EQ(loose, 2u);
    const BuildingOutputEntry buildings[2] = {{0x00000000u, 300.0f}, {0x00000001u, 300.0f}};
    const UpdateResult* r = ConduitTemperatureManager_Update(1.0f, buildings);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->temperatureCount, 3);
    // k x 10 K x 50 x 1 s x 0.001 leaves the packet: 0.05 and 0.275 kJ.
    EXPECT_NEAR(r->temperatures[0], 310.0f - 0.05f, 1e-3f);
    EXPECT_NEAR(r->temperatures[1], 310.0f - 0.275f, 1e-3f);
    EXPECT_EQ(r->temperatures[2], 0.0f);  // no building: neither simulated nor written
    const auto queued = Queued();
    ASSERT_EQ(queued.size(), 2u);
    const ModifyBuildingEnergyPayload first = queued[0], second = queued[1];
    EXPECT_NEAR(first.kilojoules, 0.05f, 1e-3f);
    EXPECT_EQ(first.minTemperature, 300.0f);
    EXPECT_EQ(first.maxTemperature, 310.0f);
    EXPECT_EQ(second.handle, 0x00000001u);
    EXPECT_NEAR(second.kilojoules, 0.275f, 1e-3f);

    // A fast exchange stops where both meet, weighted by heat capacity.
    ConduitTemperatureManager_Set(mean, 310.0f, 1.0f, kWaterId);
    r = ConduitTemperatureManager_Update(1000.0f, buildings);
    EXPECT_NEAR(r->temperatures[1], (310.0f + 10.0f * 300.0f) / 11.0f, 1e-3f);
    // A building that reports no temperature: the packet keeps its own.
    const BuildingOutputEntry cold[2] = {{0x00000000u, 0.0f}, {0x00000001u, -1.0f}};
    const float kept = r->temperatures[0];
    r = ConduitTemperatureManager_Update(1.0f, cold);
    EXPECT_EQ(r->temperatures[0], kept);
    // Without building temperatures every packet is reported as it is.
    r = ConduitTemperatureManager_Update(1.0f, nullptr);
    EXPECT_EQ(r->temperatures[2], 310.0f);
    EXPECT_EQ(ReportCount(), 0u);
}

TEST_F(Conduits, FreezeAndBoilLists) {
    // Water freezes at 272.5 K and boils at 372.5 K, with 3 K to spare.
    Add(272.5f - 2.9f, 0);
    const uint32_t b = Add(272.5f - 3.1f, 1);
    Add(372.5f + 2.9f, 2);
    const uint32_t d = Add(372.5f + 3.1f, 3);
    // Slot 1 comes back with version 1: the lists name slots, not handles.
    ConduitTemperatureManager_Remove(b);
    ts::RunConduitRemovalPass(ts::GetRuntime().conduits);
    ts::RunConduitRemovalPass(ts::GetRuntime().conduits);
    const uint32_t b2 = Add(272.5f - 3.1f, 1);
    EXPECT_EQ(b2, 0x01000001u);
    // Each building at its packet's temperature: nothing moves.
    const BuildingOutputEntry buildings[4] = {
        {0, 272.5f - 2.9f}, {1, 272.5f - 3.1f}, {2, 372.5f + 2.9f}, {3, 372.5f + 3.1f}};
    const UpdateResult* r = ConduitTemperatureManager_Update(0.2f, buildings);
    ASSERT_EQ(r->frozenCount, 1);
    EXPECT_EQ(r->frozenEntries[0], 1u);
    ASSERT_EQ(r->boiledCount, 1);
    EXPECT_EQ(r->boiledEntries[0], ts::handle::Index(d));
    EXPECT_TRUE(Queued().empty());
    // The lists describe the last update only.
    r = ConduitTemperatureManager_Update(0.2f, nullptr);
    EXPECT_EQ(r->frozenCount, 0);
    EXPECT_EQ(r->frozenEntries, nullptr);
}

TEST_F(Conduits, RemovalWaitsForTheSecondPass) {
    const uint32_t a = Add(310.0f, 0);
    Add(310.0f, 1);
    ConduitTemperatureManager_Remove(a);
    // Detached at once: no exchange, no temperature written.
    const BuildingOutputEntry buildings[2] = {{0, 300.0f}, {1, 300.0f}};
    const UpdateResult* r = ConduitTemperatureManager_Update(1.0f, buildings);
    EXPECT_EQ(r->temperatures[0], 0.0f);
    EXPECT_EQ(Queued().size(), 1u);
    ts::RunConduitRemovalPass(ts::GetRuntime().conduits);
    EXPECT_EQ(Add(300.0f, 2), 2u);  // slot 0 still out of use
    ts::RunConduitRemovalPass(ts::GetRuntime().conduits);
    EXPECT_EQ(Add(300.0f, 3), 0x01000000u);  // now reused, one version on
    // A handle removed twice is refused when its turn comes, and harms nothing.
    ConduitTemperatureManager_Remove(0x00000002u);
    ConduitTemperatureManager_Remove(0x00000002u);
    ts::RunConduitRemovalPass(ts::GetRuntime().conduits);
    ts::RunConduitRemovalPass(ts::GetRuntime().conduits);
    EXPECT_TRUE(Reported("is not live"));
    ConduitTemperatureManager_Remove(0x00000002u);  // stale now
    EXPECT_TRUE(Reported("Assert failed: IsLive(handle)"));
    r = ConduitTemperatureManager_Update(1.0f, nullptr);
    EXPECT_EQ(r->temperatures[0], 300.0f);  // the entry that reused slot 0
    EXPECT_NEAR(r->temperatures[1], 310.0f - 0.275f, 1e-3f);
}

TEST_F(Conduits, ClearForgetsPendingRemovals) {
    const uint32_t a = Add(310.0f, 0);
    ConduitTemperatureManager_Remove(a);
    ConduitTemperatureManager_Clear();
    const uint32_t fresh = Add(280.0f, 0);
    EXPECT_EQ(fresh, a);  // the same handle value, for a new entry
    ts::RunConduitRemovalPass(ts::GetRuntime().conduits);
    ts::RunConduitRemovalPass(ts::GetRuntime().conduits);
    const UpdateResult* r = ConduitTemperatureManager_Update(1.0f, nullptr);
    ASSERT_EQ(r->temperatureCount, 1);
    EXPECT_EQ(r->temperatures[0], 280.0f);
    EXPECT_EQ(ReportCount(), 0u);
}

TEST_F(Conduits, BadInput) {
    // Too hot: logged and replaced by the element's default temperature.
    const uint32_t hot = Add(20000.0f, 0);
    ASSERT_NE(hot, SIM_NO_HANDLE);
    EXPECT_EQ(ConduitTemperatureManager_Update(1.0f, nullptr)->temperatures[0], 300.0f);
    // An element the table does not hold gives no handle.
    EXPECT_EQ(ConduitTemperatureManager_Add(300.0f, 1.0f, 0xBAD, 0, 1.0f, 1.0f, 0), SIM_NO_HANDLE);
    EXPECT_TRUE(Reported("element id 0x00000bad is not in the element table"));
    EXPECT_EQ(ConduitTemperatureManager_Add(-5.0f, 1.0f, kWaterId, 0, 1.0f, 1.0f, 0), SIM_NO_HANDLE);
    EXPECT_TRUE(Reported("Assert failed: contents_mass == 0.0f || 0.0f <= contents_temperature"));
    // Set keeps the building fields and refuses what Add would repair.
    ConduitTemperatureManager_Set(hot, 320.0f, 2.0f, kWaterId);
    ConduitTemperatureManager_Set(hot, 20000.0f, 2.0f, kWaterId);
    EXPECT_TRUE(Reported("Assert failed: contents_temperature <= SIM_MAX_TEMPERATURE"));
    ConduitTemperatureManager_Set(0x05000000u, 320.0f, 2.0f, kWaterId);
    const UpdateResult* r = ConduitTemperatureManager_Update(1.0f, nullptr);
    ASSERT_EQ(r->temperatureCount, 1);
    EXPECT_EQ(r->temperatures[0], 320.0f);
    EXPECT_TRUE(Reported("Contents have invalid temperature 20000.000000. Resetting to default."));
    EXPECT_TRUE(Reported("ConduitTemperatureManager::Set called with bad handle: V=5, Idx=0, ArraySize=1"));
    // Without a manager nothing is done and nothing is returned.
    ConduitTemperatureManager_Shutdown();
    EXPECT_EQ(Add(300.0f, 0), SIM_NO_HANDLE);
    EXPECT_EQ(ConduitTemperatureManager_Update(1.0f, nullptr), nullptr);
    ConduitTemperatureManager_Initialize();
}

}  // namespace
}  // namespace tstest
