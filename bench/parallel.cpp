// Several instruments at once: the same firmware uploaded with verification
// by mirdel-cli to 1, 4 and 8 simulators, each paced like a 115200-baud
// line in both directions. Prints the wall time of each and its ratio to
// one port; the goal is at most 1.15 for 8 ports.
//
//   parallel [KiB [PORTS...]]      (default 256 KiB; 1 4 8 ports)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_usage.h"
#include "bench/upload_firmware.h"
#include "tests/common/cli_run.h"
#include "tests/common/sim_process.h"

int main(int argc, char **argv)
{
    const char *usage = "usage: parallel [KiB [PORTS...]]   (default 256 KiB; 1 4 8 ports)\n";
    if (int status = BenchUsage(argc, argv, usage, 2); status >= 0)
        return status;
    unsigned long kib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    std::vector<int> counts;
    for (int i = 2; i < argc; i++)
        counts.push_back(std::atoi(argv[i]));
    if (counts.empty())
        counts = {1, 4, 8};
    if (kib == 0 || kib > 768) {
        std::fprintf(stderr, "parallel: KiB must be 1 to 768\n");
        return 2;
    }

    const std::string fw = "/tmp/mirdel-bench-parallel-" + std::to_string(getpid()) + ".srec";
    std::vector<UploadImageLayout> layout = {
        {0x10000, "Application", {{0x08000000, (uint32_t)(kib * 1024)}}}};
    if (!UploadWriteFile(fw, UploadFirmwareText(layout, 32, 11))) {
        std::fprintf(stderr, "parallel: cannot write %s\n", fw.c_str());
        return 1;
    }
    std::printf("%lu KiB in 32-byte S3 records, uploaded and verified; simulators paced at "
                "115200 baud both ways\n\n",
                kib);
    std::printf("%5s  %10s  %14s\n", "ports", "wall [s]", "ratio to one");
    double one = 0;
    int status = 0;
    for (int n : counts) {
        std::vector<std::unique_ptr<SimProcess>> sims;
        std::vector<std::string> args = {"upload"};
        for (int i = 0; i < n; i++) {
            sims.push_back(std::make_unique<SimProcess>(std::vector<std::string>{
                "--baud", "115200", "--pace-received", "--time-limit", "3600"}));
            args.insert(args.end(), {"--port", sims.back()->Path()});
        }
        args.push_back(fw);
        auto start = std::chrono::steady_clock::now();
        CliRun r = RunCliProgram(args);
        double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (r.status != 0) {
            std::fprintf(stderr, "parallel: %d ports: exit status %d\n%s", n, r.status, r.err.c_str());
            status = 1;
        }
        if (one == 0)
            one = wall;
        std::printf("%5d  %10.2f  %14.3f\n", n, wall, wall / one);
        std::fflush(stdout);
    }
    std::remove(fw.c_str());
    return status;
}
