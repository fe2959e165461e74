// The "SIMSAVE" writer and reader over every version the library loads.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "hostkit/savegame.h"

namespace {


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

TEST(HostkitSaveGame, WriterRefusesWhatItCannotWrite) {
    tshost::SaveGame world = SmallWorld();
    EXPECT_THROW(tshost::WriteSaveGame(world, 6), std::invalid_argument);
    EXPECT_THROW(tshost::WriteSaveGame(world, 14), std::invalid_argument);
    world.diseases.pop_back();
    EXPECT_THROW(tshost::WriteSaveGame(world, 9), std::invalid_argument);
    // Version 8 does not store diseases: their count does not matter.
    EXPECT_EQ(tshost::WriteSaveGame(world, 8).size(), 212u);
}

TEST(HostkitSaveGame, ReaderRefusesMalformedBlobs) {
    const std::string good = tshost::WriteSaveGame(SmallWorld());
    ASSERT_TRUE(tshost::ReadSaveGame(good));
    auto refused = [](const std::string& blob, const char* why) {
        const tshost::SaveReadResult r = tshost::ReadSaveGame(blob);
        EXPECT_FALSE(r.save.has_value()) << why;
        EXPECT_NE(r.error.find(why), std::string::npos) << r.error;
    };
    auto withInt = [&good](size_t offset, int32_t value) {
        std::string b = good;
        std::memcpy(b.data() + offset, &value, 4);
        return b;
    };

    std::string b = good;
    b[3] = 'X';
    refused(b, "magic");
    b = good;
    b[7] = ' ';  // the eighth magic byte must be zero
    refused(b, "magic");
    refused(good.substr(0, 5), "magic");
    refused(good.substr(0, 14), "header");

    refused(withInt(8, 14), "version 14");
    refused(withInt(8, 6), "version 6");
    refused(good + '\0', "must be 309 bytes, not 310");
    refused(good.substr(0, good.size() - 1), "must be 309 bytes, not 308");
    // The same bytes labelled version 12 are one byte too long.
    refused(withInt(8, 12), "must be 308 bytes, not 309");

    refused(withInt(12, 2), "dimensions");
    refused(withInt(16, 2), "dimensions");
    refused(withInt(12, -4), "dimensions");
    std::string huge = withInt(12, 0x10000);
    std::memcpy(huge.data() + 16, "\x00\x00\x01\x00", 4);
    refused(huge, "overflow");
    // Dimensions that wrap to a small 32-bit product must not pass either.
    std::string wrap = withInt(12, 0x40000000);
    std::memcpy(wrap.data() + 16, "\x04\x00\x00\x00", 4);
    refused(wrap, "overflow");
}

}  // namespace
