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

BENCHMARK(BM_BuilderAppend)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QStringAppend)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    KeepingReporter reporter(KeepingReporter::Timing::Cpu);
    runInRounds(argc, argv, reporter);

    const Figure builder = reporter.figure("BM_BuilderAppend"),
                 reference = reporter.figure("BM_QStringAppend");
    if (builder.value == 0 || reference.value == 0)
        return 0; // a filtered run: no summary
    std::printf("\nOne million single-character appends (medians):\n");
    std::printf("  cStringBuilder::Append + toString: %.2f ms (%.2f ns per character)\n", builder.value / 1e6,
                builder.value / Characters);
    std::printf("  QString::append:                   %.2f ms (%.2f ns per character)\n",
                reference.value / 1e6, reference.value / Characters);
    const bool met =
        verdict("time(cStringBuilder::Append) / time(QString::append)", builder / reference, "x", "<=", 1.0);
    return met ? 0 : 1;
}
