#pragma once
// What the benchmark sets share: timing, rates and stopping when a set cannot be prepared.

#include "platform/Win.h"

class CMessageObject;
class IPlugin;

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <functional>
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

inline double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A set whose set-up fails measures nothing: the bench stops with the reason.
inline void Require(DWORD error, const char* what)
{
    if (error == ERROR_SUCCESS)
        return;
    std::fprintf(stderr, "telemetry_bench: %s failed with error %lu\n", what, static_cast<unsigned long>(error));
    std::exit(1);
}

// The figures the sets are judged by, printed together at the end of the run, each with what it should reach.
void Figure(const std::string& name, double value, const std::string& aim);
void PrintFigures();

// The stages of one "TrackingSend", each file one event, next to the whole event's median (StageBench.cpp).
// quillon and anvara: the components as the install holds them, already loaded.
void StageFigures(const std::vector<std::wstring>& files, HMODULE quillon, HMODULE anvara, double wholeMedianMs);

// The stages of "PluginExecute" events of one package in place, each next to the whole event's median through
// the plug-in (ExecuteStageBench.cpp); event is what the host delivers. baseline, the same work done directly,
// runs after each event.
struct WholeEvents
{
    double median = 0;
    double baselineMedian = 0;
    double ownShare = 0;   // of the median: neither a digest, a publisher check nor the launcher's process
};
WholeEvents ExecuteStageFigures(const std::string& title, const CMessageObject& event, IPlugin& plugin, int events,
                                const std::function<void()>& baseline);

// The "upload" set, and the child process that makes one upload for it (this program with kUploadHost first).
constexpr char kUploadHost[] = "upload-host";
void UploadFigures();
// The "execute" set (PluginExecuteBench.cpp).
void ExecuteFigures();
int UploadHost(int argc, char** argv);

// The "batch" set: the repository batch downloader against plain requests.
void BatchDownloadFigures();

} // namespace bench
