// A user list of 20,000 users handled by the window model without a window, against splitting the same body
// into lines and columns alone.

#include "BenchReport.h"
#include "ProgramInfo.h"
#include "frmMain.h"
#include "modMain.h"

#include <QCoreApplication>
#include <QTemporaryDir>

namespace {

const QString& body() {
    static const QString text = [] {
        QStringList lines{QStringLiteral("20000")};
        for (int i = 0; i < 20000; ++i)
            lines << QStringLiteral("%1\tuser%1\t\t%2\t사용자%1\t사원\t%3\t127.0.0.1\t0")
                         .arg(1000 + i)
                         .arg(i % 6)
                         .arg(i % 3 == 0 ? 1 : 0);
        return lines.join(QStringLiteral("\r\n"));
    }();
    return text;
}

void BM_ProcCLList(benchmark::State& state) {
    modMain::MyUserId = 123;
    for (auto _ : state) {
        state.PauseTiming();
        auto form = std::make_unique<frmMain>(quint16(1));
        form->InitUserTree();
        state.ResumeTiming();
        form->Proc_CL_List(body());
        benchmark::DoNotOptimize(form->contacts().OnlineCount);
        state.PauseTiming();
        if (form->tree().count() != 20006)
            state.SkipWithError("users lost");
        form.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 20000);
}

void BM_SplitOnly(benchmark::State& state) {
    for (auto _ : state) {
        qsizetype columns = 0;
        const QStringList lines = body().split(QStringLiteral("\r\n"));
        for (const QString& line : lines)
            columns += line.split(QLatin1Char('\t')).size();
        benchmark::DoNotOptimize(columns);
    }
    state.SetItemsProcessed(state.iterations() * 20000);
}

BENCHMARK(BM_ProcCLList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SplitOnly)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir folder; // the version packet cannot be sent without a connection; its log line goes here
    ProgramInfo::setFolder(folder.path());
    KeepingReporter reporter(KeepingReporter::Timing::Cpu);
    runInRounds(argc, argv, reporter);

    const Figure list = reporter.figure("BM_ProcCLList"), split = reporter.figure("BM_SplitOnly");
    if (list.value == 0 || split.value == 0)
        return 0;
    std::printf("\nUser list of 20,000 users (medians): %.2f ms, %.1f x splitting the body alone\n",
                list.value / 1e6, list.value / split.value);
    return verdict("Proc_CL_List, 20,000 users", list / 1e6, "ms", "<=", 50) ? 0 : 1;
}
