// The receive path: chat packets with 100-byte Hangul bodies delivered in one chunk or in 1 KiB chunks, taken
// out of the buffer and decoded as the socket handler does, against a plain memchr scan of the same bytes.

#include "AnsiCodec.h"
#include "BenchReport.h"
#include "modZEPProtocol.h"

#include <cstring>

namespace {

constexpr qsizetype MiB = 1024 * 1024;

struct Stream {
    QByteArray bytes;
    qint64 packets = 0;
};

// Whole chat packets up to `size` bytes.
const Stream& stream(qsizetype size) {
    static std::map<qsizetype, Stream> made;
    Stream& s = made[size];
    if (s.bytes.isEmpty()) {
        const QByteArray body = AnsiCodec::fromUnicode(QString(50, QChar(0xD55C))); // 50 x "한" = 100 bytes
        const QByteArray packet = "/\x01"
                                  "0117;123/\x02" +
                                  body + "/\x03";
        s.bytes.reserve(size);
        while (s.bytes.size() + packet.size() <= size) {
            s.bytes += packet;
            ++s.packets;
        }
    }
    return s;
}

void receive(benchmark::State& state, qsizetype chunk) {
    const Stream& s = stream(state.range(0) * MiB);
    qint64 handled = 0;
    for (auto _ : state) {
        modZEPProtocol::ClearRecvBuffer(0);
        for (qsizetype at = 0; at < s.bytes.size(); at += chunk) {
            modZEPProtocol::AppendRecvBuffer(
                QByteArray::fromRawData(s.bytes.constData() + at, std::min(chunk, s.bytes.size() - at)), 0);
            modZEPProtocol::DrainRecvBuffer(
                0, [&](qint16 code, const QString& body, const QString& h1, const QString&, const QString&) {
                    benchmark::DoNotOptimize(code);
                    benchmark::DoNotOptimize(body.constData());
                    benchmark::DoNotOptimize(h1.constData());
                    ++handled;
                });
        }
    }
    if (handled != s.packets * qint64(state.iterations()))
        state.SkipWithError("packets lost");
    state.SetBytesProcessed(state.iterations() * s.bytes.size());
    state.SetItemsProcessed(state.iterations() * s.packets);
}

void BM_ReceiveOneChunk(benchmark::State& state) {
    receive(state, std::numeric_limits<qsizetype>::max() / 2);
}
void BM_Receive1KiBChunks(benchmark::State& state) {
    receive(state, 1024);
}

void BM_MemchrScan(benchmark::State& state) {
    const Stream& s = stream(state.range(0) * MiB);
    for (auto _ : state) {
        qint64 markers = 0;
        const char* p = s.bytes.constData();
        const char* end = p + s.bytes.size();
        while ((p = static_cast<const char*>(std::memchr(p, '/', size_t(end - p))))) {
            ++markers;
            ++p;
        }
        benchmark::DoNotOptimize(markers);
    }
    state.SetBytesProcessed(state.iterations() * s.bytes.size());
    state.SetItemsProcessed(state.iterations() * s.packets);
}

BENCHMARK(BM_ReceiveOneChunk)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Receive1KiBChunks)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemchrScan)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    KeepingReporter reporter(KeepingReporter::Timing::Cpu);
    runInRounds(argc, argv, reporter);

    const auto time = [&](const char* name) { return reporter.figure(name); };
    const Figure oneChunk1 = time("BM_ReceiveOneChunk/1"), oneChunk16 = time("BM_ReceiveOneChunk/16"),
                 chunks1 = time("BM_Receive1KiBChunks/1"), chunks16 = time("BM_Receive1KiBChunks/16"),
                 memchr16 = time("BM_MemchrScan/16");
    if (oneChunk16.value == 0 || chunks16.value == 0 || memchr16.value == 0)
        return 0; // a filtered run: no summary
    const double packets = double(stream(16 * MiB).packets), bytes = double(stream(16 * MiB).bytes.size());
    std::printf("\nReceive path, 16 MiB of chat packets (%.0f packets), medians:\n", packets);
    bool met = true;
    for (const auto& [name, figure] :
         {std::pair{"BM_ReceiveOneChunk/16", oneChunk16}, std::pair{"BM_Receive1KiBChunks/16", chunks16}}) {
        std::printf("  %s: %.1f MB/s, %.0f packets/s, %.1f x the memchr scan's time\n", name,
                    bytes / figure.value * 1e3, packets / figure.value * 1e9, figure.value / memchr16.value);
        met &=
            verdict((std::string(name) + " packets/s").c_str(), figure.rate(packets), "packets/s", ">=", 1e6);
    }
    met &= verdict("one chunk: time(16 MiB) / time(1 MiB)", oneChunk16 / oneChunk1, "x", "<=", 18);
    met &= verdict("1 KiB chunks: time(16 MiB) / time(1 MiB)", chunks16 / chunks1, "x", "<=", 18);
    return met ? 0 : 1;
}
