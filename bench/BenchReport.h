#pragma once

#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <string>

// Prints the usual table and keeps each run's real time per iteration (ns) and its counters, so a program can
// finish with ratios against the reference measured in the same run.
class KeepingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration && run.aggregate_name != "median")
                continue;
            const std::string name = run.run_name.str();
            nanoseconds[name] = run.GetAdjustedRealTime() * (run.time_unit == benchmark::kMillisecond   ? 1e6
                                                             : run.time_unit == benchmark::kMicrosecond ? 1e3
                                                             : run.time_unit == benchmark::kSecond      ? 1e9
                                                                                                   : 1.0);
            for (const auto& [key, counter] : run.counters)
                counters[name][key] = counter.value;
        }
    }
    // The time of the first run whose name starts with `prefix` (runs carry their settings in their names),
    // or 0 when there is none, as in a filtered run.
    double nanosecondsOf(const std::string& prefix) const {
        const auto it = nanoseconds.lower_bound(prefix);
        return it != nanoseconds.end() && it->first.rfind(prefix, 0) == 0 ? it->second : 0.0;
    }

    std::map<std::string, double> nanoseconds;
    std::map<std::string, std::map<std::string, double>> counters;
};

// One line of the closing summary: the figure, the target and whether it is met.
inline bool verdict(const char* what, double value, const char* unit, const char* comparison, double target) {
    const bool met = std::string(comparison) == "<=" ? value <= target : value >= target;
    std::printf("%-58s %14.2f %-10s target %s %.2f  %s\n", what, value, unit, comparison, target,
                met ? "met" : "NOT MET");
    return met;
}
