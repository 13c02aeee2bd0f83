// JsonParse and JsonToText on strict JSON documents of 1 KiB, 100 KiB and 10 MiB (directory-like records:
// objects, arrays, Hangul strings with escapes, integers, fractions and exponents), against nlohmann::json
// parsing and dumping the same text in the same run.
//
// nlohmann reads and writes UTF-8 std::string; our reader reads QString (UTF-16). The targets are taken with
// the UTF-8 counted on our side: QString::fromUtf8 before JsonParse, and JsonToUtf8 (JsonToText's text
// written as UTF-8), which is what reading and writing a UTF-8 file or an HTTP body costs the program. The
// figures of the codec alone (JsonParse, JsonToText) are printed beside them. Every figure is the median of
// the rounds of scripts/bench.sh's kind (see runInRounds), ours and nlohmann's shuffled together.

#include "BenchReport.h"
#include "json.h"

#include <QByteArray>
#include <QString>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

namespace {

constexpr qsizetype Sizes[] = {1024, 100 * 1024, 10 * 1024 * 1024};

// One record of the document; they vary with i so that no two are alike.
std::string record(int i) {
    const std::string n = std::to_string(i);
    return R"({"name": "사내메신저소켓-)" + n + R"(", "host": "127.0.)" + std::to_string(i % 250) + "." +
           std::to_string(i % 200 + 1) + R"(", "port": )" + std::to_string(10000 + i % 5000) +
           R"(, "ratio": 0.)" + std::to_string(i % 97 + 1) + R"(, "delta": -)" + std::to_string(i % 9 + 1) +
           R"(.25e-2, "active": )" + (i % 3 ? "true" : "false") +
           R"(, "note": "점검 \"정기\" 작업\n경로 C:\\ZEP\\)" + n +
           R"( \u00e9\ud83d\ude00", "tags": ["서버", "t)" + n + R"(", )" + std::to_string(i * 7) +
           R"(], "extra": null})";
}

// A directory-like document of at least `size` bytes of UTF-8: groups of up to 500 records, which keeps every
// array within the writer's 32,766 elements.
const std::string& document(qsizetype size) {
    static std::map<qsizetype, std::string> made;
    std::string& text = made[size];
    if (text.empty()) {
        text = R"({"ver": 12, "groups": [{"servers": [)";
        for (int i = 0; qsizetype(text.size()) < size - 4; ++i)
            text += (i == 0 ? "" : i % 500 ? ", " : R"(]}, {"servers": [)") + record(i);
        text += "]}]}";
    }
    return text;
}

const QString& documentText(qsizetype size) {
    static std::map<qsizetype, QString> made;
    QString& text = made[size];
    if (text.isEmpty())
        text = QString::fromStdString(document(size));
    return text;
}

void BM_JsonParse(benchmark::State& state) {
    const QString& text = documentText(state.range(0));
    for (auto _ : state) {
        std::optional<JsonValue> root = json::JsonParse(text);
        benchmark::DoNotOptimize(root);
    }
    if (!json::JsonParseErrors().isEmpty())
        state.SkipWithError("complaints on a strict document");
    state.SetBytesProcessed(state.iterations() * qint64(document(state.range(0)).size()));
}

void BM_JsonParseFromUtf8(benchmark::State& state) {
    const std::string& bytes = document(state.range(0));
    for (auto _ : state) {
        std::optional<JsonValue> root =
            json::JsonParse(QString::fromUtf8(bytes.data(), qsizetype(bytes.size())));
        benchmark::DoNotOptimize(root);
    }
    state.SetBytesProcessed(state.iterations() * qint64(bytes.size()));
}

void BM_NlohmannParse(benchmark::State& state) {
    const std::string& bytes = document(state.range(0));
    for (auto _ : state) {
        nlohmann::json root = nlohmann::json::parse(bytes);
        benchmark::DoNotOptimize(root);
    }
    state.SetBytesProcessed(state.iterations() * qint64(bytes.size()));
}

void BM_JsonToText(benchmark::State& state) {
    const JsonValue root = *json::JsonParse(documentText(state.range(0)));
    for (auto _ : state) {
        QString text = json::JsonToText(root);
        benchmark::DoNotOptimize(text.constData());
    }
    state.SetBytesProcessed(state.iterations() * qint64(document(state.range(0)).size()));
}

void BM_JsonToTextAsUtf8(benchmark::State& state) {
    const JsonValue root = *json::JsonParse(documentText(state.range(0)));
    for (auto _ : state) {
        QByteArray bytes = json::JsonToUtf8(root);
        benchmark::DoNotOptimize(bytes.constData());
    }
    state.SetBytesProcessed(state.iterations() * qint64(document(state.range(0)).size()));
}

void BM_NlohmannDump(benchmark::State& state) {
    const nlohmann::json root = nlohmann::json::parse(document(state.range(0)));
    for (auto _ : state) {
        std::string bytes = root.dump();
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(state.iterations() * qint64(document(state.range(0)).size()));
}

void sizes(benchmark::internal::Benchmark* b) {
    for (const qsizetype size : Sizes)
        b->Arg(size);
    b->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_JsonParse)->Apply(sizes);
BENCHMARK(BM_JsonParseFromUtf8)->Apply(sizes);
BENCHMARK(BM_NlohmannParse)->Apply(sizes);
BENCHMARK(BM_JsonToText)->Apply(sizes);
BENCHMARK(BM_JsonToTextAsUtf8)->Apply(sizes);
BENCHMARK(BM_NlohmannDump)->Apply(sizes);

} // namespace

int main(int argc, char** argv) {
    KeepingReporter reporter(KeepingReporter::Timing::Cpu);
    runInRounds(argc, argv, reporter);

    const auto timeOf = [&](const char* function, qsizetype size) {
        return reporter.figure(std::string(function) + "/" + std::to_string(size));
    };
    bool met = true, any = false;
    for (const qsizetype size : Sizes) {
        const Figure parse = timeOf("BM_JsonParse", size), parseUtf8 = timeOf("BM_JsonParseFromUtf8", size),
                     nlohmannParse = timeOf("BM_NlohmannParse", size), dump = timeOf("BM_JsonToText", size),
                     dumpUtf8 = timeOf("BM_JsonToTextAsUtf8", size),
                     nlohmannDump = timeOf("BM_NlohmannDump", size);
        if (parseUtf8.value == 0 || nlohmannParse.value == 0 || dumpUtf8.value == 0 ||
            nlohmannDump.value == 0)
            continue; // a filtered run: no summary
        any = true;
        const double bytes = double(document(size).size());
        const auto mbps = [bytes](const Figure& ns) { return ns.value > 0 ? bytes / ns.value * 1e3 : 0; };
        std::printf("\n%lld bytes of UTF-8 (%lld UTF-16 units), medians:\n", qlonglong(bytes),
                    qlonglong(documentText(size).size()));
        std::printf(
            "  parse  ours from UTF-8 %12.1f us (%6.1f MB/s)   codec alone %12.1f us   nlohmann %12.1f us "
            "(%6.1f MB/s)\n",
            parseUtf8.value / 1e3, mbps(parseUtf8), parse.value / 1e3, nlohmannParse.value / 1e3,
            mbps(nlohmannParse));
        std::printf(
            "  dump   ours to UTF-8   %12.1f us (%6.1f MB/s)   codec alone %12.1f us   nlohmann %12.1f us "
            "(%6.1f MB/s)\n",
            dumpUtf8.value / 1e3, mbps(dumpUtf8), dump.value / 1e3, nlohmannDump.value / 1e3,
            mbps(nlohmannDump));
        const std::string kib = std::to_string(size / 1024) + " KiB";
        met &= verdict(("JsonParse incl. fromUtf8 / nlohmann parse, " + kib).c_str(),
                       parseUtf8 / nlohmannParse, "x", "<=", 1.0);
        met &=
            verdict(("JsonToUtf8 / nlohmann dump, " + kib).c_str(), dumpUtf8 / nlohmannDump, "x", "<=", 1.0);
    }
    return !any || met ? 0 : 1;
}
