// The tool as a host: finds and loads the library, sends the tables, loads a
// world and drives its frames, copying what each frame returns.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "hostkit/frameresults.h"
#include "hostkit/library.h"
#include "hostkit/tables.h"

namespace tessel {

// Bad input: main prints the message on one line and exits with status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The library: `explicit` when given, else beside the tool as installed
// (../lib/libtesselsim.so.0, ../lib/libtesselsim.so), else in the build tree.
std::string LocateLibrary(const std::string& explicitPath);

// Element and disease tables: the sample tables of data/ (built in) unless paths
// are given.
struct TableOptions {
    std::string elements;
    std::string diseases;
};
tshost::SampleTables LoadTables(const TableOptions& options);
// The sample tables built into the tool.
tshost::SampleTables EmbeddedTables();

// One published frame, copied out of the library's buffers (game cells, row-major
// from the bottom row).
struct Frame {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> element;
    std::vector<float> temperature;
    std::vector<float> mass;
    std::vector<uint8_t> diseaseIdx;
    std::vector<int32_t> diseaseCount;
    std::vector<uint8_t> light;

    static Frame From(const tshost::FrameResultsView& view);
    size_t size() const { return element.size(); }
    size_t Cell(int32_t x, int32_t y) const { return size_t(y) * size_t(width) + size_t(x); }
};

// Sums over the lists a run's frames returned: what left the grid, and what the
// host was told.
struct ListTotals {
    struct Entry {
        std::string list;
        uint64_t entries = 0;
        double mass = 0.0;  // kg, for lists that carry matter
        bool carriesMass = false;
    };
    std::vector<Entry> lists;
    void Add(const tshost::FrameResultsView& r);
};

class Host {
public:
    Host(const std::string& libraryPath, tshost::SampleTables tables);
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    const tshost::SampleTables& tables() const { return tables_; }
    tshost::Library& lib() { return *lib_; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }

    // Loads a save; throws UsageError when the library refuses it. The returned
    // view is the load's first results.
    tshost::FrameResultsView Load(const std::string& save);
    // Sets the world's random seed (extension message); false when the library
    // refuses it or does not know the message.
    bool SetSeed(uint32_t seed);
    // Hash of the world's cells (extension message); 0 when unsupported.
    uint64_t Hash();

    // Closes a frame of `dt` seconds over the whole grid and exchanges: the
    // returned view carries the results of the frame closed before it.
    tshost::FrameResultsView Step(float dt);
    // Frame parameters sent with every frame from now on (by default none are
    // sent and the world keeps its own).
    void SetFrameParameters(const SetFrameParametersPayload& p) { parameters_ = p; }
    // Closes a frame without physics and exchanges twice: its own results.
    tshost::FrameResultsView Settle();

    // Library reports seen so far (assertions and warnings).
    static int Reports();

private:
    std::unique_ptr<tshost::Library> lib_;
    tshost::SampleTables tables_;
    int32_t width_ = 0;
    int32_t height_ = 0;
    std::string input_;
    std::optional<SetFrameParametersPayload> parameters_;
};

// What a game does with the solids that the library lets fall: it holds them
// as items that fall under gravity, then puts them back into the grid where
// they land (ModifyCell, stacked on the solid below).
class FallingItems {
public:
    // Takes the frame's falling solids, moves every item and queues the cells
    // of those that landed.
    void Update(Host& host, const tshost::FrameResultsView& frame);
    // Draws the items still in the air into a copy of the frame.
    void Draw(Frame& frame) const;
    uint64_t landed() const { return landed_; }
    double landedMass() const { return landedMass_; }

private:
    struct Item {
        int32_t x;
        float y;
        float speed;  // cells per frame
        FallingSolidEntry solid;
    };
    std::vector<Item> items_;
    uint64_t landed_ = 0;
    double landedMass_ = 0.0;
};

// Reads a whole file; throws UsageError naming it when unreadable.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// Progress on stderr, drawn only when stderr is a terminal.
class Progress {
public:
    Progress(std::string label, int total);
    ~Progress();
    void Update(int done);

private:
    std::string label_;
    int total_;
    bool enabled_;
    int lastPercent_ = -1;
};

}  // namespace tessel
