#pragma once
// What the benchmark sets share: timing, rates and stopping when a set cannot be prepared.

#include "platform/Win.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench
{

using Clock = std::chrono::steady_clock;

// Best of a few runs: the least disturbed one is the closest to the code's own cost.
template <typename F>
inline double BestSeconds(int runs, F&& work)
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i)
    {
        const auto start = Clock::now();
        work();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

inline double MBps(std::size_t bytes, double seconds) { return bytes / seconds / 1e6; }

// A set whose set-up fails measures nothing: the bench stops with the reason.
inline void Require(DWORD error, const char* what)
{
    if (error == ERROR_SUCCESS)
        return;
    std::fprintf(stderr, "telemetry_bench: %s failed with error %lu\n", what, static_cast<unsigned long>(error));
    std::exit(1);
}

// The stages of one "TrackingSend", each file one event, next to the whole event's median (StageBench.cpp).
// quillon and anvara: the components as the install holds them, already loaded.
void StageFigures(const std::vector<std::wstring>& files, HMODULE quillon, HMODULE anvara, double wholeMedianMs);

// The "upload" set, and the child process that makes one upload for it (this program with kUploadHost first).
constexpr char kUploadHost[] = "upload-host";
void UploadFigures();
// The "execute" set (PluginExecuteBench.cpp).
void ExecuteFigures();
int UploadHost(int argc, char** argv);

// The "batch" set: the repository batch downloader against plain requests.
void BatchDownloadFigures();

} // namespace bench
