#pragma once

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

// One figure measured in rounds: the median, and the rounds' spread around it (their median absolute
// deviation as a share of the median), which is how far the machine's noise moves it.
struct Figure {
    double value = 0;
    double spread = 0;

    // A ratio of two figures carries the noise of both.
    Figure operator/(const Figure& other) const {
        return {other.value != 0 ? value / other.value : 0, spread + other.spread};
    }
    Figure operator/(double divisor) const { return {value / divisor, spread}; }
    Figure operator*(double factor) const { return {value * factor, spread}; }
    // A rate from a time per round: `amount` per second.
    Figure rate(double amount) const { return {value > 0 ? amount / value * 1e9 : 0, spread}; }
};

inline Figure figureOf(std::vector<double> rounds) {
    if (rounds.empty())
        return {};
    const auto medianOf = [](std::vector<double>& v) {
        std::sort(v.begin(), v.end());
        const size_t n = v.size();
        return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    };
    const double median = medianOf(rounds);
    std::vector<double> deviations;
    for (const double r : rounds)
        deviations.push_back(std::fabs(r - median));
    return {median, median > 0 ? medianOf(deviations) / median : 0};
}

// Prints the usual table and keeps every round's time per iteration (ns) and its counters, so a program can
// finish with ratios against the reference measured in the same run. Benchmarks that compute on this thread
// alone are timed by their CPU time, which other processes on a shared machine barely move; those that wait
// for a server or a child process need the wall time.
class KeepingReporter : public benchmark::ConsoleReporter {
public:
    enum class Timing { Wall, Cpu };
    explicit KeepingReporter(Timing timing = Timing::Wall) : timing_(timing) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred)
                continue;
            const std::string name = run.run_name.str();
            const double time = timing_ == Timing::Cpu ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime();
            rounds[name].push_back(time * (run.time_unit == benchmark::kMillisecond   ? 1e6
                                           : run.time_unit == benchmark::kMicrosecond ? 1e3
                                           : run.time_unit == benchmark::kSecond      ? 1e9
                                                                                      : 1.0));
            for (const auto& [key, counter] : run.counters)
                counters[name][key] = counter.value;
        }
    }
    // The rounds of the run named `name`, or of the one whose name goes on from it after a "/" (runs carry
    // their settings in their names, "BM_Receive/16/repeats:5"); a zero figure when there is none, as in a
    // filtered run. "BM_JsonParse/1024" is never "BM_JsonParse/102400".
    Figure figure(const std::string& name) const {
        for (auto it = rounds.lower_bound(name); it != rounds.end() && it->first.rfind(name, 0) == 0; ++it)
            if (it->first.size() == name.size() || it->first[name.size()] == '/')
                return figureOf(it->second);
        return {};
    }

    // A reporter given to Google Benchmark keeps its own colours whatever --benchmark_color says.
    void withoutColour() { output_options_ = OutputOptions(output_options_ & ~OO_Color); }

    std::map<std::string, std::vector<double>> rounds;
    std::map<std::string, std::map<std::string, double>> counters;

private:
    Timing timing_;
};

// Runs every registered benchmark in rounds: 5 repetitions each unless --benchmark_repetitions asks for more,
// the repetitions of all benchmarks shuffled together, so that a slow spell of the machine falls on both
// sides of a ratio alike. Flags on the command line come after these and win.
inline void runInRounds(int argc, char** argv, KeepingReporter& reporter) {
    std::vector<char*> args(argv, argv + argc);
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    static char repetitions[] = "--benchmark_repetitions=5";
    args.insert(args.begin() + 1, {interleave, repetitions});
    int count = int(args.size());
    args.push_back(nullptr);
    for (const std::string colour : {"--benchmark_color=false", "--benchmark_color=no"})
        if (std::find(args.begin() + 1, args.end() - 1, colour) != args.end() - 1)
            reporter.withoutColour();
    benchmark::Initialize(&count, args.data());
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
}

// One line of the closing summary: the figure with its noise, the target and the verdict. `margin` widens the
// target where both sides are bound by the same thing (a share of the target: 0.15 is 15 %). A figure beyond
// the target but within its own noise of it is no miss: another run could as well land on the other side.
// Returns false only for a real miss.
inline bool verdict(const char* what, Figure value, const char* unit, const char* comparison, double target,
                    double margin = 0) {
    const bool atMost = std::string(comparison) == "<=";
    const double limit = atMost ? target * (1 + margin) : target * (1 - margin);
    const auto within = [&](double v) { return atMost ? v <= limit : v >= limit; };
    const double noise = value.value * value.spread;
    const char* outcome = within(value.value)                                          ? "met"
                          : within(atMost ? value.value - noise : value.value + noise) ? "met within noise"
                                                                                       : "NOT MET";
    char targetText[64];
    if (margin > 0)
        std::snprintf(targetText, sizeof targetText, "%s %.2f + %.0f %%", comparison, target, margin * 100);
    else
        std::snprintf(targetText, sizeof targetText, "%s %.2f", comparison, target);
    std::printf("%-58s %14.2f %-10s +- %4.1f %%  target %-18s %s\n", what, value.value, unit,
                value.spread * 100, targetText, outcome);
    return std::string(outcome) != "NOT MET";
}
