// tessel end to end: every subcommand run as a user runs it, its output files
// read back, and the recording page opened in headless Chromium.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>

#include "common/hosting.h"
#include "common/testio.h"
#include "hostkit/savegame.h"

namespace {

namespace fs = std::filesystem;
using tstest::ReadFile;
using tstest::WriteFile;

std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// Game size of the test world, and its notable cells.
constexpr int32_t kW = 24, kH = 16;
constexpr int32_t kGermX = 5, kGermY = 3;

class Tessel : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char dirTemplate[] = "/tmp/tessel_test_XXXXXX";
        dir_ = new fs::path(mkdtemp(dirTemplate));
        tables_ = new tshost::SampleTables(tshost::LoadSampleTables());
        // The world is made as a host makes one: CreateWorld, then the library's save.
        tshost::Library lib(TS_LIBRARY_PATH);
        lib.SIM_Initialize([](int32_t, void*) {});
        tstest::LoadTables(lib, *tables_);
        tshost::WorldLayout w(kW, kH, tshost::Matter(E("Oxygen"), 293.15f, 1.0f));
        w.Fill(0, 0, kW, 3, tshost::Matter(E("Granite"), 290.0f, 2700.0f));
        w.Fill(4, 3, 12, 7, tshost::Matter(E("Water"), 300.0f, 1000.0f));
        w.Fill(16, 10, 20, 13, tshost::Matter(E("Sand"), 293.0f, 1600.0f));
        w.at(20, 1).temperature = 500.0f;
        w.at(kGermX, kGermY).diseaseIdx = tshost::DiseaseIndex(tables_->diseases, "Vibrio bacteria");
        w.at(kGermX, kGermY).diseaseCount = 5000;
        lib.SendBytes(SIM_MSG_CREATE_WORLD, tshost::CreateWorldPayload(w));
        const std::string world = lib.SaveWorld();
        lib.SIM_Shutdown();
        WriteFile(Path("world.simsave"), world);
        WriteFile(Path("short.simsave"), world.substr(0, world.size() - 1));
        const tshost::SaveGame save = *tshost::ReadSaveGame(world).save;
        // One cell changed by hand: game cell (7, 3), water.
        tshost::SaveGame edited = save;
        edited.cells[size_t(3 + 1) * size_t(save.width) + size_t(7 + 1)].temperature += 50.0f;
        edited.cells[size_t(3 + 1) * size_t(save.width) + size_t(7 + 1)].mass += 3.0f;
        WriteFile(Path("edited.simsave"), tshost::WriteSaveGame(edited));
        tshost::SaveGame bad = save;
        bad.cells[size_t(2 * bad.width + 3)].mass = NAN;
        bad.cells[size_t(5 * bad.width + 3)].elementId = 0x12345678u;
        WriteFile(Path("bad.simsave"), tshost::WriteSaveGame(bad));
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        fs::remove_all(*dir_, ec);
        delete dir_;
        delete tables_;
    }

    static uint8_t E(const char* name) { return tshost::ElementIndex(tables_->elements, name); }
    static std::string Path(const std::string& name) { return (*dir_ / name).string(); }
    static std::string World() { return Path("world.simsave"); }
    static tshost::SaveGame ReadSave(const std::string& path) {
        const tshost::SaveReadResult r = tshost::ReadSaveGame(ReadFile(path));
        EXPECT_TRUE(r) << path << ": " << r.error;
        return r ? *r.save : tshost::SaveGame{};
    }

    // Runs the tool with stdout and stderr captured (stderr is a file: the
    // progress bar must stay quiet).
    static Result Run(const std::string& args) {
        const std::string err = Path("stderr.txt");
        int raw = -1;
        Result r;
        r.out = tstest::CommandOutput(Quote(TS_TESSEL_PATH) + " " + args + " 2>" + Quote(err), &raw);
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.err = ReadFile(err);
        return r;
    }

    static fs::path* dir_;
    static tshost::SampleTables* tables_;
};

fs::path* Tessel::dir_ = nullptr;
tshost::SampleTables* Tessel::tables_ = nullptr;

// The library's own thread-start line aside, stderr of a run holds only what the tool wrote.
std::string ToolLines(const std::string& err) {
    std::istringstream in(err);
    std::string line, out;
    while (std::getline(in, line))
        if (line.rfind("THREAD - ", 0) != 0) out += line + "\n";
    return out;
}

struct Png {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

Png ReadPng(const std::string& path) {
    Png png;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return png;
    image.format = PNG_FORMAT_RGB;
    png.rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, png.rgb.data(), 0, nullptr)) return png;
    png.width = int(image.width);
    png.height = int(image.height);
    return png;
}

TEST_F(Tessel, BadInputExitsWithOneLineReason) {
    WriteFile(Path("garbage.simsave"), "SIMSAVE\0 but nothing after it");
    const struct {
        std::string args;
        const char* reason;
    } cases[] = {
        {"", "subcommand is required"},
        {"run " + World(), "--frames is required"},
        {"run " + Path("missing.simsave") + " --frames 1", "does not exist"},
        {"run " + World() + " --frames 1 --dt -1", "--dt"},
        {"run " + Path("garbage.simsave") + " --frames 1", "not a loadable save"},
        {"inspect " + World() + " --cell 24,0", "--cell must be X,Y inside the 24 x 16 game grid"},
        {"inspect " + World() + " --cell 3", "--cell must be X,Y"},
        {"render " + World() + " --view heat -o " + Path("x.png"), "--view"},
        {"render " + World() + " --view mass", "--out is required"},
        {"diff " + World(), "b is required"},
        {"convert " + Path("garbage.simsave") + " -o " + Path("x.simsave"), "garbage.simsave"},
        {"bench --size 2x5", "--size must be WIDTHxHEIGHT"},
        {"bench --scene busy", "--scene"},
        {"run " + World() + " --frames 1 --library " + Path("nolib.so"), "no library at"},
    };
    for (const auto& c : cases) {
        const Result r = Run(c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        const std::string err = ToolLines(r.err);
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << c.args << ":\n" << err;
        EXPECT_EQ(err.rfind("tessel: ", 0), 0u) << err;
        EXPECT_NE(err.find(c.reason), std::string::npos) << c.args << ":\n" << err;
    }
}

// Each subcommand's help, inspect, diff, validate and bench on the test world
// and saves made from it: the exit code and every fragment (a regular
// expression) in the output.
TEST_F(Tessel, OutputOfEverySubcommand) {
    struct Case {
        std::string args;
        int status;
        std::vector<std::string> fragments;
    };
    std::vector<Case> cases = {
        {"diff " + World() + " " + World(), 0, {}},
        {"diff " + World() + " " + Path("edited.simsave"), 1,
         {"differ: 1 of 384 game cells", "first at \\(7, 3\\); all within x 7\\.\\.7, y 3\\.\\.3; 0 change element",
          "largest \\|dT\\|: 50 K at \\(7, 3\\)", "largest \\|dm\\|: 3 kg at \\(7, 3\\)", "\\(\\+3 kg\\)"}},
        {"validate " + World(), 0, {}},
        {"validate " + Path("bad.simsave"), 1,
         {"mass not finite or negative: 1 cells, first at \\(2, 1\\)", "element id not in the table: 1 cells, first at \\(2, 4\\)"}},
        {"validate " + Path("short.simsave"), 1, {"^invalid: "}},
        // Histogram by name: 72 granite cells (3 rows), 32 water, 12 sand, the rest oxygen.
        {"inspect " + World() + " --cell 5,3", 0,
         {"SIMSAVE version 13 \\(current\\)", "24 x 16 game cells \\(26 x 18 with the border\\)", "Granite +72 ",
          "Water +32 ", "Sand +12 ", "Oxygen +268 ", "temperature: 290.00 .. 500.00 K",
          "germs: +Vibrio bacteria: 5000 in 1 cells", "cell \\(5, 3\\), game cell 77:", "element: +Water",
          "mass: +1000 kg", "temperature: 300 K", "germs: +Vibrio bacteria, 5000"}},
        {"bench --scene mixed --size 40x30 --frames 3", 0, {"scene mixed, 40 x 30 game cells", "one frame costs"}},
        {"bench --scene settled --size 40x30 --frames 3", 0, {"scene settled, 40 x 30 game cells", "one frame costs"}},
    };
    for (const char* sub : {"demo", "run", "inspect", "render", "diff", "validate", "convert", "bench"})
        cases.push_back({std::string(sub) + " --help", 0, {"Usage", sub}});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const Result r = Run(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        for (const std::string& fragment : c.fragments)
            EXPECT_TRUE(std::regex_search(r.out, std::regex(fragment))) << fragment << " in:\n" << r.out;
        std::smatch m;
        // A step does more than copy the cells once.
        if (std::regex_search(r.out, m, std::regex("one frame costs ([0-9.]+) copies"))) {
            EXPECT_GT(std::stod(m[1]), 1.0);
        }
    }
}

TEST_F(Tessel, RenderDrawsEveryViewTopRowFirst) {
    // The temperature view carries its legend on the right.
    for (const auto& [view, legend] : {std::pair{"element", 0}, {"temperature", 64}, {"mass", 0}, {"germs", 0}, {"light", 0}}) {
        const std::string png = Path(std::string(view) + ".png");
        const Result r = Run("render " + World() + " --view " + view + " --scale 3 -o " + png);
        ASSERT_EQ(r.status, 0) << view << ": " << r.err;
        const Png img = ReadPng(png);
        EXPECT_EQ(img.width, 3 * kW + legend) << view;
        EXPECT_EQ(img.height, 3 * kH) << view;
    }
    // Game row 0 (granite) is the bottom pixel row; the top row is oxygen.
    const Png img = ReadPng(Path("element.png"));
    ASSERT_EQ(img.rgb.size(), size_t(3 * kW * 3 * kH * 3));
    auto colour = [&](size_t pixel) { return uint32_t(img.rgb[pixel * 3]) << 16 | uint32_t(img.rgb[pixel * 3 + 1]) << 8 | img.rgb[pixel * 3 + 2]; };
    const uint32_t granite = tables_->elements[E("Granite")].record.colour;
    EXPECT_EQ(colour(img.rgb.size() / 3 - 1), granite);
    EXPECT_NE(colour(0), granite);
}

TEST_F(Tessel, RunSavesTheWorldAndDiffTellsWhereItChanged) {
    const std::string after = Path("after.simsave"), again = Path("again.simsave");
    const Result r = Run("run " + World() + " --frames 40 --seed 7 -o " + after);
    ASSERT_EQ(r.status, 0) << r.err;
    // The library's seed and hash messages make a run repeatable across processes.
    const Result repeated = Run("run " + World() + " --frames 40 --seed 7 -o " + again);
    std::smatch hash;
    ASSERT_TRUE(std::regex_search(r.out, hash, std::regex("world hash: 0x[0-9a-f]{16}"))) << r.out;
    EXPECT_NE(repeated.out.find(hash[0].str()), std::string::npos) << repeated.out;
    EXPECT_EQ(ReadFile(again), ReadFile(after));
    EXPECT_NE(r.out.find("40 frames of 0.2 s (8.0 s of game time) on 24 x 16 cells"), std::string::npos) << r.out;
    EXPECT_TRUE(std::regex_search(r.out, std::regex("fallingSolids +[1-9][0-9]* entries"))) << "the sand falls";
    EXPECT_EQ(ToolLines(r.err), "") << "no progress bar when stderr is a file";
    // The tool catches the falling sand and puts all of it back where it lands.
    double sand = 0.0;
    for (const SavedCell& c : ReadSave(after).cells)
        if (c.elementId == tables_->elements[E("Sand")].record.id) sand += c.mass;
    EXPECT_NEAR(sand, 12 * 1600.0, 0.01);

    const Result changed = Run("diff " + World() + " " + after);
    EXPECT_EQ(changed.status, 1);
    EXPECT_EQ(changed.out.rfind("differ: ", 0), 0u) << changed.out;
}

TEST_F(Tessel, ConvertRewritesOlderVersions) {
    const tshost::SaveGame current = ReadSave(World());
    for (int version : {7, 8, 9, 12}) {
        const std::string old = Path("v" + std::to_string(version) + ".simsave");
        const std::string converted = Path("v" + std::to_string(version) + "-13.simsave");
        const std::string bytes = tshost::WriteSaveGame(current, version);
        WriteFile(old, bytes);
        const Result r = Run("convert " + old + " -o " + converted);
        ASSERT_EQ(r.status, 0) << version << ": " << r.err;
        // What the old version holds (germs from 9 on, targets from 8), written as the current one.
        EXPECT_EQ(ReadFile(converted), tshost::WriteSaveGame(*tshost::ReadSaveGame(bytes).save)) << version;
        EXPECT_EQ(Run("validate " + converted).status, 0) << version;
    }
}

TEST_F(Tessel, DemoWritesFramesContactSheetPageAndSummary) {
    const std::string out = Path("demo");
    const Result r = Run("demo -o " + out + " --frames 20 --every 10");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* view : {"element", "temperature", "mass", "germs", "light"})
        for (int frame : {0, 10, 20}) {
            char name[64];
            std::snprintf(name, sizeof name, "/frames/%s_%04d.png", view, frame);
            EXPECT_GT(ReadPng(out + name).height, 0) << name;
        }
    EXPECT_GT(ReadPng(out + "/contact-sheet.png").width, 6 * 256);
    EXPECT_EQ(ReadSave(out + "/demo.simsave").width, 256 + 2);
    EXPECT_NE(ReadFile(out + "/demo.html").find("\"width\": 256, \"height\": 192"), std::string::npos);
    // The summary comes from the returned frames: the tables' elements by
    // name, the lists, the building's temperature and the time per frame.
    for (const char* fragment : {"20 frames of 0\\.2 s \\(4\\.0 s of game time\\) on 256 x 192 cells",
                                 "Water +2772 +[0-9]+ +2772000\\.0 ", "fallingSolids +[1-9][0-9]* entries",
                                 "massEmitterOutputs +20 entries", "building 0x[0-9a-f]{8}: 293\\.1 K -> [0-9.]+ K",
                                 "ms per frame", "library reports: 0"})
        EXPECT_TRUE(std::regex_search(r.out, std::regex(fragment))) << fragment << " in:\n" << r.out;
}

std::string Attribute(const std::string& dom, const std::string& element, const std::string& name) {
    std::smatch m;
    const std::regex tag("<" + element + "[^>]*\\b" + name + "=\"([^\"]*)\"");
    return std::regex_search(dom, m, tag) ? m[1].str() : std::string("(absent)");
}

TEST_F(Tessel, RecordedPageDecodesEveryFrameAndShowsTheHoveredCell) {
    const std::string page = Path("run.html"), after = Path("recorded.simsave");
    const Result r = Run("run " + World() + " --frames 12 --record " + page + " -o " + after);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string html = ReadFile(page);
    EXPECT_EQ(html.find("http://"), std::string::npos) << "the page loads nothing from a network";
    EXPECT_EQ(html.find("https://"), std::string::npos);

    const char* browser = nullptr;
    for (const char* b : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
        if (access(b, X_OK) == 0) browser = b;
    ASSERT_NE(browser, nullptr) << "headless Chromium is missing: scripts/install-deps.sh --with-browser installs it";
    const std::string profile = Path("chromium-profile");
    fs::create_directories(profile);
    const std::string url = "file://" + page + "#frame=12&view=germs&hover=" + std::to_string(kGermX) + "," +
                            std::to_string(kGermY);
    const std::string dom = Path("dom.html");
    const std::string cmd = std::string(browser) +
                            " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
                            " --disable-background-networking --disable-component-update --disable-sync"
                            " --user-data-dir=" + Quote(profile) + " --virtual-time-budget=30000 --dump-dom " +
                            Quote(url) + " >" + Quote(dom) + " 2>/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const std::string text = ReadFile(dom);
    EXPECT_EQ(Attribute(text, "body", "data-state"), "ready") << Attribute(text, "body", "data-error");
    for (const auto& [name, value] : {std::pair{"data-frames", "13"}, {"data-decoded-frames", "13"}, {"data-frame", "12"}, {"data-view", "germs"}})
        EXPECT_EQ(Attribute(text, "body", name), value) << name;

    // The hovered cell shows what the run left there, as the saved world holds it.
    const tshost::SaveGame s = ReadSave(after);
    const size_t c = size_t(kGermY + 1) * size_t(s.width) + size_t(kGermX + 1);
    const int e = tshost::FindElementById(tables_->elements, s.cells[c].elementId);
    ASSERT_GE(e, 0);
    EXPECT_EQ(Attribute(text, "div", "data-element"), tables_->elements[size_t(e)].name);
    const double mass = std::stod(Attribute(text, "div", "data-mass"));
    const double temperature = std::stod(Attribute(text, "div", "data-temperature"));
    const double germs = std::stod(Attribute(text, "div", "data-germs"));
    EXPECT_NEAR(mass, s.cells[c].mass, 2e-3 * s.cells[c].mass);
    EXPECT_NEAR(temperature, s.cells[c].temperature, 1e-3 * s.cells[c].temperature);
    const double savedGerms = s.diseases[c].diseaseId != 0 ? s.diseases[c].diseaseCount : 0;
    EXPECT_NEAR(germs, savedGerms, 1e-3 * savedGerms + 0.5);
    EXPECT_EQ(Attribute(text, "div", "data-disease"), savedGerms > 0 ? "Vibrio bacteria" : "none");
}

}  // namespace
