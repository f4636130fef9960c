#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>

#include "LoopRun.h"

// What a folder's downloads queued at each size come to: the GUI thread's CPU per file through
// the window (us_per_file_<N>), against the transfer queues alone (x_engine_<N>), at the largest
// N against 1,000, and the worst lateness through the window.
class FolderFigures
{
public:
    void Note(int i_files, const Busy& i_engine, const Busy& i_window)
    {
        m_engineUsPerFile[i_files] = i_engine.cpuMs * 1e3 / i_files;
        m_usPerFile[i_files] = i_window.cpuMs * 1e3 / i_files;
        m_worstLateMs = std::max(m_worstLateMs, i_window.worstLateMs);
    }

    void Publish(benchmark::State& state)
    {
        const int l_most = m_usPerFile.rbegin()->first;
        for (const auto& [l_files, l_us] : m_usPerFile)
        {
            state.counters["us_per_file_" + std::to_string(l_files)] = l_us;
            state.counters["x_engine_" + std::to_string(l_files)] = l_us / m_engineUsPerFile[l_files];
        }
        state.counters["ratio_" + std::to_string(l_most) + "_to_1000"] = m_usPerFile[l_most] / m_usPerFile[1000];
        state.counters["worst_late_ms"] = m_worstLateMs;
    }

private:
    std::map<int, double> m_usPerFile;
    std::map<int, double> m_engineUsPerFile;
    double m_worstLateMs = 0;
};
