// query of 100,000 rows x 4 text columns into a Recordset and a walk over it, against a plain
// mysql_store_result + mysql_fetch_row loop over the same rows on the same server. The server is the test
// fixture's MariaDB; its folder comes in ZEPJOB_MARIADB (scripts/bench.sh starts one).
#include "BenchReport.h"
#include "MariaDbFixture.h"
#include "ProgramInfo.h"
#include "cMySQL.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstring>

namespace {

constexpr int Rows = 100'000;
const char* const Select = "SELECT host, drive, free_mb, note FROM bench_rows";

using MariaDbFixture::port;

bool connectRaw(MYSQL* mysql) {
    mysql_init(mysql);
    mysql_optionsv(mysql, MYSQL_SET_CHARSET_NAME, "euckr");
    return mysql_real_connect(mysql, "127.0.0.1", "zeptest", "zeptest-pw", "zeptest", port().toUInt(),
                              nullptr, 0) != nullptr;
}

bool prepareRows() {
    MYSQL mysql;
    const bool ok =
        connectRaw(&mysql) && mysql_query(&mysql, "DROP TABLE IF EXISTS bench_rows") == 0 &&
        mysql_query(&mysql, "CREATE TABLE bench_rows (host VARCHAR(32), drive VARCHAR(8), "
                            "free_mb VARCHAR(16), note VARCHAR(32)) CHARACTER SET utf8mb4") == 0 &&
        mysql_query(&mysql,
                    "INSERT INTO bench_rows SELECT CONCAT('127.0.0.', seq % 250), "
                    "CONCAT(CHAR(67 + seq % 4), ':'), seq * 7, CONCAT('  ', _utf8mb4'점검 ', seq, ' ') "
                    "FROM seq_1_to_100000") == 0;
    if (!ok)
        std::fprintf(stderr, "mysql_bench: %s\n", mysql_error(&mysql));
    mysql_close(&mysql);
    return ok;
}

void BM_PlainFetchRowLoop(benchmark::State& state) {
    MYSQL mysql;
    if (!connectRaw(&mysql)) {
        state.SkipWithError("cannot connect");
        return;
    }
    for (auto _ : state) {
        size_t bytes = 0;
        int rows = 0;
        mysql_query(&mysql, Select);
        MYSQL_RES* result = mysql_store_result(&mysql);
        while (MYSQL_ROW row = mysql_fetch_row(result)) {
            for (int i = 0; i < 4; ++i)
                bytes += row[i] ? std::strlen(row[i]) : 0;
            ++rows;
        }
        mysql_free_result(result);
        benchmark::DoNotOptimize(bytes);
        if (rows != Rows)
            state.SkipWithError("wrong row count");
    }
    mysql_close(&mysql);
    state.SetItemsProcessed(state.iterations() * Rows);
}

void BM_QueryIntoRecordsetAndWalk(benchmark::State& state) {
    cMySQL db;
    db.setUsualPort(port().toInt());
    if (!db.real_connect("127.0.0.1", "zeptest", "zeptest-pw", "zeptest", 3306, QString(), 0, true)) {
        state.SkipWithError("cannot connect");
        return;
    }
    const QString sql = QString::fromLatin1(Select);
    const QString names[] = {"host", "drive", "free_mb", "note"};
    for (auto _ : state) {
        qsizetype chars = 0;
        int rows = 0;
        auto rs = db.query(sql);
        while (rs && !rs->Eof()) {
            for (const QString& name : names)
                chars += rs->Fields().Item(name).Value().size();
            rs->MoveNext();
            ++rows;
        }
        Recordset::CloseRecordset(rs);
        db.free_result();
        benchmark::DoNotOptimize(chars);
        if (rows != Rows)
            state.SkipWithError("wrong row count");
    }
    state.SetItemsProcessed(state.iterations() * Rows);
}

BENCHMARK(BM_PlainFetchRowLoop)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_QueryIntoRecordsetAndWalk)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    if (!MariaDbFixture::useAsProgramFolder(folder, "mysql_bench"))
        return 1;
    if (!prepareRows())
        return 1;

    KeepingReporter reporter;
    runInRounds(argc, argv, reporter);

    const Figure plain = reporter.figure("BM_PlainFetchRowLoop"),
                 ours = reporter.figure("BM_QueryIntoRecordsetAndWalk");
    if (plain.value == 0 || ours.value == 0)
        return 0; // a filtered run: no summary
    std::printf("\n100,000 rows x 4 text columns over loopback (medians): %.1f ms against %.1f ms\n",
                ours.value / 1e6, plain.value / 1e6);
    const bool met =
        verdict("query into a Recordset + walk / plain fetch_row loop", ours / plain, "x", "<=", 3.0);
    return met ? 0 : 1;
}
