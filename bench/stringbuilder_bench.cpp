// The string builder's hot path: a text built from one million single-character appends and taken out with
// toString, as the JSON reader builds its string values, against QString::append of the same characters.

#include "BenchReport.h"
#include "cStringBuilder.h"

#include <QString>
#include <array>

namespace {

constexpr int Characters = 1'000'000;

// The pieces appended, cycled: ASCII and Hangul, each its own one-character QString.
const std::array<QString, 64>& pieces() {
    static const std::array<QString, 64> made = [] {
        std::array<QString, 64> p;
        for (int i = 0; i < 64; ++i)
            p[i] = QString(QChar(i % 2 ? char16_t(0xAC00 + i) : char16_t(u'a' + i % 26)));
        return p;
    }();
    return made;
}

void BM_BuilderAppend(benchmark::State& state) {
    const auto& p = pieces();
    for (auto _ : state) {
        cStringBuilder sb;
        for (int i = 0; i < Characters; ++i)
            sb.Append(p[i & 63]);
        const QString text = sb.toString();
        benchmark::DoNotOptimize(text.constData());
        if (text.size() != Characters)
            state.SkipWithError("characters lost");
    }
    state.SetItemsProcessed(state.iterations() * Characters);
}

void BM_QStringAppend(benchmark::State& state) {
    const auto& p = pieces();
    for (auto _ : state) {
        QString text;
        for (int i = 0; i < Characters; ++i)
            text.append(p[i & 63]);
        benchmark::DoNotOptimize(text.constData());
        if (text.size() != Characters)
            state.SkipWithError("characters lost");
    }
    state.SetItemsProcessed(state.iterations() * Characters);
}

BENCHMARK(BM_BuilderAppend)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_QStringAppend)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    KeepingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    // With repetitions only the median is kept, under the name with its "/repeats:n".
    const auto timeOf = [&](const std::string& function) -> double {
        for (const auto& [name, ns] : reporter.nanoseconds)
            if (name == function || name.rfind(function + "/", 0) == 0)
                return ns;
        return 0;
    };
    const double builder = timeOf("BM_BuilderAppend"), reference = timeOf("BM_QStringAppend");
    if (builder == 0 || reference == 0)
        return 0; // a filtered run: no summary
    std::printf("\nOne million single-character appends:\n");
    std::printf("  cStringBuilder::Append + toString: %.2f ms (%.2f ns per character)\n", builder / 1e6,
                builder / Characters);
    std::printf("  QString::append:                   %.2f ms (%.2f ns per character)\n", reference / 1e6,
                reference / Characters);
    const bool met =
        verdict("time(cStringBuilder::Append) / time(QString::append)", builder / reference, "x", "<=", 1.0);
    return met ? 0 : 1;
}
