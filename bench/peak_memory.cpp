// Peak resident memory of a running world with its two result buffers, the
// step's scratch and a few published cycles, in bytes per cell.
//   tesselsim_peak_memory [side] [mixed|settled]
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "scenes/scenes.h"
#include "simlib/frameresults.h"
#include "simlib/physicsstep.h"
#include "simlib/simthread.h"

namespace {
long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}
}  // namespace

int main(int argc, char** argv) {
    const int32_t side = argc > 1 ? std::atoi(argv[1]) : 2048;
    const bool settled = argc > 2 && std::strcmp(argv[2], "settled") == 0;
    const tsscene::Tables tables = tsscene::SampleTables();
    const long baseline = PeakKilobytes();
    auto world = settled ? tsscene::Settled(tables, side, side) : tsscene::Mixed(tables, side, side);
    ts::HostExchange exchange;
    exchange.Initialise(*world);
    ts::WorkerPool pool(1);
    ts::StepContext context(pool);
    ts::PublishContext publish(1);
    for (int cycle = 0; cycle < 3; ++cycle) {
        ts::Step(context, *world);
        ts::PublishResults(*world, *exchange.SimWriteBuffer(), *exchange.HostReadBuffer(), 1, pool, publish);
    }
    const double cells = double(world->cellCount());
    const double bytes = double(PeakKilobytes() - baseline) * 1024.0;
    std::printf("%s world %d x %d: %.0f cells, peak %.1f MiB above baseline, %.1f bytes per cell\n",
                settled ? "settled" : "mixed", side, side, cells, bytes / 1048576.0, bytes / cells);
    return 0;
}
