// Tests of korvex-results, the real executable against generated databases: the list and its
// filters, CSV export, the report as poppler reads it, the statistics of the readings, the control
// chart, and the exit status a script sees.
#include "ReadingSummary.h"
#include "ResultsDb.h"
#include "ResultsQuery.h"

#include <QImage>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {

using Ids = QList<qint64>;

struct Outcome {
    int code = -1;  // -1: crashed or hung
    QByteArray out;
    QString err;
};

Outcome Run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished(5000);
        return {};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            QString::fromUtf8(p.readAllStandardError())};
}

Outcome Results(const QStringList& args) { return Run(QStringLiteral(KORVEX_RESULTS_EXE), args); }

QString Iso(const QDateTime& t) { return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs); }

bool Exec(QSqlQuery& q, const QString& sql, const QVariantList& binds)
{
    q.prepare(sql);
    for (const QVariant& v : binds) q.addBindValue(v);
    if (q.exec()) return true;
    qWarning() << sql << q.lastError().text();
    return false;
}

// A run as the record leaves it; `seconds` < 0: no end. `columns` names the values that follow.
bool AddRun(const QSqlDatabase& db, const char* localStart, int seconds, const char* columns,
            QVariantList values)
{
    const QDateTime started = QDateTime::fromString(QString::fromLatin1(localStart), Qt::ISODate);
    const QDateTime ended = started.addSecs(seconds);
    QStringList names = QString::fromLatin1(columns).split(QLatin1Char(','));
    names << QStringLiteral("kind") << QStringLiteral("model") << QStringLiteral("started_at")
          << QStringLiteral("started_ms");
    values << QStringLiteral("calibration") << QStringLiteral("7212B") << Iso(started)
           << started.toMSecsSinceEpoch();
    if (seconds >= 0) {
        names << QStringLiteral("ended_at") << QStringLiteral("ended_ms");
        values << Iso(ended) << ended.toMSecsSinceEpoch();
    }
    QSqlQuery q(db);
    return Exec(q,
                QStringLiteral("INSERT INTO TestResult (%1) VALUES (%2)")
                    .arg(names.join(QLatin1Char(',')),
                         QStringList(names.size(), QStringLiteral("?")).join(QLatin1Char(','))),
                values);
}

struct Reading {
    const char* quantity;
    const char* nominal;
    const char* typed;
    int sent;
};

// Meter readings as typed, none of them a substring of a nominal level, so that the report is
// seen to show the readings themselves.
const Reading Readings[] = {{"V", "100mV", "0.1003", 100},          {"V", "3.999V", "3.9987", 3999},
                            {"V", "4.00V", "4.0012", 4001},         {"V", "37.0V(7212B)", "37.012", 37012},
                            {"V", "20.0V(7212B)", "19.995", 19995}, {"A", "100mA", "0.0998", 100},
                            {"A", "3.1A(7212B)", "3.1021", 3102}};

}  // namespace

class TestKorvexResults : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void list_data();
    void list();
    void listLines();
    void exportCsv();
    void stats_data();
    void stats();
    void report_data();
    void report();
    void chart_data();
    void chart();
    void failures_data();
    void failures();
    void findsTheDatabaseAsTheCalibratorDoes_data();
    void findsTheDatabaseAsTheCalibratorDoes();

private:
    QStringList fill(QStringList texts) const
    {
        for (QString& t : texts) {
            t.replace(QLatin1String("{db}"), db_)
                .replace(QLatin1String("{newer}"), newer_)
                .replace(QLatin1String("{damaged}"), damaged_);
            t.replace(QLatin1String("{empty}"), empty_)
                .replace(QLatin1String("{blocked}"), blocked_)
                .replace(QLatin1String("{link}"), link_)
                .replace(QLatin1String("{full}"), full_)
                .replace(QLatin1String("{dir}"), dir_.path());
        }
        return texts;
    }

    QTemporaryDir dir_;
    QString db_, newer_, damaged_, empty_, blocked_, stats_, chart_, link_;
    // A mounted, full disk; empty where it cannot be made.
    QString full_;
};

void TestKorvexResults::initTestCase()
{
    QVERIFY(dir_.isValid());
    // The good databases in a folder of their own: SQLite may leave companions of a WAL file
    // beside them, and the folder above is watched for anything a failure leaves behind.
    QVERIFY(QDir(dir_.path()).mkpath(QStringLiteral("db")));
    db_ = dir_.filePath(QStringLiteral("db/PowerTestDb.sqlite"));
    newer_ = dir_.filePath(QStringLiteral("db/Newer.sqlite"));
    damaged_ = dir_.filePath(QStringLiteral("Damaged.sqlite"));
    empty_ = dir_.filePath(QStringLiteral("Empty.sqlite"));
    blocked_ = dir_.filePath(QStringLiteral("x.txt"));
    stats_ = dir_.filePath(QStringLiteral("db/Stats.sqlite"));
    {
        ResultsDb writer;
        QVERIFY2(writer.open(db_, ResultsDb::Mode::Record), qPrintable(writer.errorText()));
        const QSqlDatabase db = writer.database();
        QVERIFY(AddRun(db, "2026-03-09T09:00:00", 192,
                       "result,serial_written,address,port,baud,date_written,operator,temperature,humidity,"
                       "bench,program_version,certificate_no,meter_source,meter_vendor,meter_model,meter_connection,"
                       "meter_asset_id,meter_calibration_due,plausibility_pct,meter_accuracy",
                       {"finished", "000042", 3, "COM1", 9600, "2026-03-09", "Anna",
                        QString::fromUtf8("25±5°C"), "<70%", "bench-7", "1.1.0.19", "bench-7-20260309-0001", "fluke-dmm",
                        "Fluke", "287", "/dev/ttyUSB0", "DMM-0042", "2026-03-08", 10.0, "DCV=0.025%+2; DCA=0.15%+2"}));
        // Held to a band so narrow that the first reading lies outside it.
        QVERIFY(AddRun(db, "2026-03-10T10:00:00", 30, "result,serial_read,operator,plausibility_pct",
                       {"aborted", "777001", "Ben\tB.\x1b]0;owned\x07", 0.01}));
        QVERIFY(AddRun(db, "2026-03-11T08:00:00", -1, "result,serial_written,operator",
                       {"interrupted", "000043", "Anna"}));
        QSqlQuery q(db);
        int point = 0;
        for (const Reading& r : Readings) {
            ++point;
            // The first run's current points were read from the meter; its 4th was marked unusual.
            // The meter's readings spread: 3 readings at point 6, 2 at point 7.
            const QString insert = QStringLiteral("INSERT INTO TestReading (run_id, point, quantity, nominal, typed, value_sent, source, unusual,"
                                                  " reads, deviation, resolution) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
            QVERIFY(Exec(q, insert, {1, point, r.quantity, r.nominal, r.typed, r.sent, point >= 6 ? "meter" : "typed", point == 4,
                                     point < 6 ? 1 : 9 - point, point == 6 ? 2e-5 : point == 7 ? 1e-4 : 0.0,
                                     point == 4 || point == 5 ? 1e-3 : 1e-4}));
            if (point <= 2) QVERIFY(Exec(q, insert, {2, point, r.quantity, r.nominal, r.typed, r.sent, "typed", 0, QVariant(), QVariant(), QVariant()}));
        }
    }
    {
        // Two models on two benches; the 7212B's 41.0 V lies outside the 10 % band of 37.0 V
        // (33.3 to 40.7 V), and the aborted run's 30.0 V only counts when aborted runs are asked for.
        // Failed runs typed to more places than written: the check off, no band recorded, outside it.
        ResultsDb writer;
        QVERIFY2(writer.open(stats_, ResultsDb::Mode::Record), qPrintable(writer.errorText()));
        const QSqlDatabase db = writer.database();
        struct StatsRun {
            const char *start, *result, *serial, *model, *bench;
            int volts4, amps6, unusual6;
            const char* typed4 = nullptr;
            QVariant percent = 10.0;
        };
        const StatsRun runs[] = {{"2026-03-09T09:00:00", "finished", "000101", "7212B", "bench-1", 37010, 100, 1},
                                 {"2026-03-10T09:00:00", "finished", "000102", "7212B", "bench-1", 37020, 100, 0},
                                 {"2026-03-11T09:00:00", "finished", "000201", "7212B", "bench-2", 41000, 0, 0},
                                 {"2026-03-11T10:00:00", "aborted", "000202", "7212B", "bench-2", 30000, 0, 0},
                                 {"2026-03-12T09:00:00", "finished", "000301", "7211B", "bench-1", 19000, 0, 0},
                                 {"2026-03-13T09:00:00", "failed", "000401", "7212B", "bench-3", 37012000, 0, 0, "37012", 0.0},
                                 {"2026-03-13T10:00:00", "failed", "000402", "7212B", "bench-3", 37012, 0, 0, "37.0123", QVariant()},
                                 {"2026-03-13T11:00:00", "failed", "000403", "7212B", "bench-3", 41000, 0, 0, "41.0004"}};
        QSqlQuery q(db);
        int id = 0;
        for (const StatsRun& r : runs) {
            QVERIFY(AddRun(db, r.start, 100, "result,serial_written,bench,plausibility_pct", {r.result, r.serial, r.bench, r.percent}));
            QVERIFY(Exec(q, QStringLiteral("UPDATE TestResult SET model = ? WHERE id = ?"), {r.model, ++id}));
            QVERIFY(Exec(q, QStringLiteral("INSERT INTO TestReading (run_id, point, quantity, typed, value_sent) VALUES (?, 4, 'V', ?, ?)"),
                         {id, r.typed4 ? QVariant(r.typed4) : QVariant(), r.volts4}));
            if (r.amps6 > 0)
                QVERIFY(Exec(q, QStringLiteral("INSERT INTO TestReading (run_id, point, quantity, value_sent, unusual)"
                                               " VALUES (?, 6, 'A', ?, ?)"),
                             {id, r.amps6, r.unusual6}));
        }
        // Summed up as a migration does for rows written before the sums were kept.
        QString error;
        QSqlDatabase summing = writer.database();
        QVERIFY(summing.transaction());
        QVERIFY2(AddToReadingSummary(summing, 0, &error), qPrintable(error));
        QVERIFY(summing.commit());
    }
    {
        // Point 4 of six finished calibrations a day apart, on two benches in turn.
        chart_ = dir_.filePath(QStringLiteral("db/Chart.sqlite"));
        ResultsDb writer;
        QVERIFY2(writer.open(chart_, ResultsDb::Mode::Record), qPrintable(writer.errorText()));
        QSqlQuery q(writer.database());
        const char* typed[] = {"37.010", "37.012", "37.008", "37.010", "37.030", "37.011"};
        for (int i = 0; i < 6; ++i) {
            const QByteArray start = QStringLiteral("2026-04-0%1T09:00:00").arg(i + 1).toLatin1();
            QVERIFY(AddRun(writer.database(), start.constData(), 60, "result,bench", {"finished", i % 2 ? "b2" : "b1"}));
            QVERIFY(Exec(q, QStringLiteral("INSERT INTO TestReading (run_id, point, quantity, typed, value_sent) VALUES (?, 4, 'V', ?, 0)"),
                         {i + 1, typed[i]}));
        }
    }
    {
        ResultsDb writer;
        QVERIFY2(writer.open(newer_, ResultsDb::Mode::Record), qPrintable(writer.errorText()));
        QSqlQuery q(writer.database());
        QVERIFY(Exec(q, QStringLiteral("UPDATE SchemaVersion SET version = ?"),
                     {ResultsDb::SchemaVersionNow + 1}));
    }
    auto write = [](const QString& path, const QByteArray& bytes) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    };
    QVERIFY(write(damaged_, QByteArray("Not a database, whatever its name says.\n").repeated(100)));
    QVERIFY(write(empty_, QByteArray()));
    QVERIFY(write(blocked_, QByteArray("a file, so nothing can be made under it\n")));
    // In a folder every user may write, as /tmp: the link may be anyone's.
    QVERIFY(QDir(dir_.path()).mkpath(QStringLiteral("shared")));
    QVERIFY(QFile::setPermissions(dir_.filePath(QStringLiteral("shared")), QFileDevice::Permissions(0x7777)));
    link_ = dir_.filePath(QStringLiteral("shared/link"));
    QVERIFY(QFile::link(damaged_, link_));
    // A small disk with an older file on it, filled up.
    const QString full = dir_.filePath(QStringLiteral("full"));
    QVERIFY(QDir().mkpath(full));
    if (::geteuid() == 0 && QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                                                         QStringLiteral("size=64k"), QStringLiteral("tmpfs"), full}) == 0) {
        full_ = full;
        QVERIFY(write(full_ + QStringLiteral("/old"), "yesterday's\n"));
        QFile filler(full_ + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(4096, 'f')) > 0 && filler.flush()) {}
    }
}

void TestKorvexResults::cleanupTestCase()
{
    if (!full_.isEmpty()) QProcess::execute(QStringLiteral("umount"), {full_});
}

void TestKorvexResults::list_data()
{
    QTest::addColumn<QStringList>("filters");
    QTest::addColumn<int>("code");
    QTest::addColumn<Ids>("ids");
    QTest::newRow("every run, newest first") << QStringList{} << 0 << Ids{3, 2, 1};
    QTest::newRow("serial") << QStringList{"--serial", "00004"} << 0 << Ids{3, 1};
    QTest::newRow("serial read") << QStringList{"--serial", "7770"} << 0 << Ids{2};
    QTest::newRow("since") << QStringList{"--since", "2026-03-10"} << 0 << Ids{3, 2};
    QTest::newRow("until, its day included") << QStringList{"--until", "2026-03-10"} << 0 << Ids{2, 1};
    QTest::newRow("result") << QStringList{"--result", "aborted"} << 0 << Ids{2};
    QTest::newRow("combined") << QStringList{"--serial", "0000", "--since", "2026-03-10", "--until", "2026-03-11"}
                              << 0 << Ids{3};
    QTest::newRow("none selected") << QStringList{"--serial", "999"} << 1 << Ids{};
}

void TestKorvexResults::list()
{
    QFETCH(QStringList, filters);
    QFETCH(int, code);
    QFETCH(Ids, ids);
    const Outcome o = Results(QStringList{QStringLiteral("--db"), db_, QStringLiteral("list")} + filters);
    QVERIFY2(o.code == code, qPrintable(o.err));
    QStringList lines = QString::fromUtf8(o.out).split(QLatin1Char('\n'));
    QCOMPARE(lines.takeLast(), QString());
    QCOMPARE(lines.takeFirst(), QStringLiteral("id\tdate\tserial\tmodel\toperator\tresult\tduration_s"));
    Ids got;
    for (const QString& line : lines) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        QCOMPARE(fields.size(), 7);
        got << fields[0].toLongLong();
    }
    QCOMPARE(got, ids);
}

void TestKorvexResults::listLines()
{
    const Outcome o = Results({QStringLiteral("--db"), db_, QStringLiteral("list")});
    QCOMPARE(o.code, 0);
    QCOMPARE(QString::fromUtf8(o.out),
             QStringLiteral("id\tdate\tserial\tmodel\toperator\tresult\tduration_s\n"
                            "3\t2026-03-11 08:00:00\t000043\t7212B\tAnna\tinterrupted\t\n"
                            // An escape sequence typed or read into a field never reaches the terminal.
                            "2\t2026-03-10 10:00:00\t777001\t7212B\tBen B.?]0;owned?\taborted\t30\n"
                            "1\t2026-03-09 09:00:00\t000042\t7212B\tAnna\tfinished\t192\n"));
}

void TestKorvexResults::exportCsv()
{
    const QString path = dir_.filePath(QStringLiteral("db/runs.csv"));
    const QStringList filter{QStringLiteral("--until"), QStringLiteral("2026-03-09")};
    const Outcome toFile = Results(
        QStringList{QStringLiteral("--db"), db_, QStringLiteral("export"), QStringLiteral("--csv"), path} +
        filter);
    QVERIFY2(toFile.code == 0, qPrintable(toFile.err));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const QList<QByteArray> lines = bytes.split('\n');
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], CsvColumns().join(QLatin1Char(',')).toUtf8() + '\r');
    QVERIFY(lines[1].startsWith("1,calibration,2026-03-09T09:00:00.000"));
    QVERIFY(lines[1].endsWith('\r'));
    QVERIFY(lines[1].contains(QString::fromUtf8(",25±5°C,").toUtf8()));
    // Each point's reading as typed, as written, its source and mark; then what the certificate rests on.
    QVERIFY2(lines[1].endsWith(",/dev/ttyUSB0,0.1003,100,typed,0,3.9987,3999,typed,0,4.0012,4001,typed,0,37.012,37012,typed,1,19.995,19995,typed,0,"
                               "0.0998,100,meter,0,3.1021,3102,meter,0,bench-7-20260309-0001,DMM-0042,2026-03-08,10\r"), lines[1].constData());
    QCOMPARE(lines[2], QByteArray());

    const Outcome toStdout = Results(QStringList{QStringLiteral("--db"), db_, QStringLiteral("export"),
                                                 QStringLiteral("--csv"), QStringLiteral("-")} +
                                     filter);
    QCOMPARE(toStdout.code, 0);
    QCOMPARE(toStdout.out, bytes);
    const Outcome marked = Results(QStringList{"--db", db_, "export", "--csv", "-", "--bom"} + filter);
    QCOMPARE(marked.out, "\xEF\xBB\xBF" + bytes);
    // None selected: the header alone, and the status that says so.
    const Outcome none = Results({QStringLiteral("--db"), db_, QStringLiteral("export"), QStringLiteral("--csv"),
                                  QStringLiteral("-"), QStringLiteral("--serial"), QStringLiteral("999")});
    QCOMPARE(none.code, 1);
    QCOMPARE(none.out, lines[0] + '\n');
}

void TestKorvexResults::stats_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("lines");
    const QString p4 = QStringLiteral("7212B\t4\tV\t37.0V(7212B)\t");
    const QString p6 = QStringLiteral("7212B\t6\tA\t100mA\t2\t0.1000\t0.0000\t0.100\t0.100\t0.00\t1\t0");
    const QString p4of7211 = QStringLiteral("7211B\t4\tV\t19.0V(7211B)\t1\t19.0000\t0.0000\t19.000\t19.000\t0.00\t0\t0");
    QTest::newRow("finished runs by model and point")
        << QStringList{} << 0
        << QStringList{p4of7211, p4 + "3\t38.3433\t2.3007\t37.010\t41.000\t33.33\t0\t0", p6};
    QTest::newRow("as CSV") << QStringList{"--csv", "-"} << 0
                            << QStringList{p4of7211, p4 + "3\t38.3433\t2.3007\t37.010\t41.000\t33.33\t0\t0", p6};
    QTest::newRow("a wider band") << QStringList{"--plausibility", "20", "--until", "2026-03-11"} << 0
                                  << QStringList{p4 + "3\t38.3433\t2.3007\t37.010\t41.000\t0.00\t0\t0", p6};
    QTest::newRow("one bench") << QStringList{"--bench", "bench-2"} << 0
                               << QStringList{p4 + "1\t41.0000\t0.0000\t41.000\t41.000\t100.00\t0\t0"};
    QTest::newRow("until, from the sums") << QStringList{"--until", "2026-03-10"} << 0
                                          << QStringList{p4 + "2\t37.0150\t0.0071\t37.010\t37.020\t0.00\t0\t0", p6};
    QTest::newRow("serial, each run's band") << QStringList{"--serial", "0002"} << 0
                                             << QStringList{p4 + "1\t41.0000\t0.0000\t41.000\t41.000\t100.00\t0\t0"};
    QTest::newRow("serial") << QStringList{"--serial", "0001"} << 0
                            << QStringList{p4 + "2\t37.0150\t0.0071\t37.010\t37.020\t0.00\t0\t0", p6};
    QTest::newRow("aborted runs when asked for") << QStringList{"--result", "aborted"} << 0
                                                 << QStringList{p4 + "1\t30.0000\t0.0000\t30.000\t30.000\t100.00\t0\t0"};
    QTest::newRow("since") << QStringList{"--since", "2026-03-12"} << 0 << QStringList{p4of7211};
    QTest::newRow("none selected") << QStringList{"--bench", "bench-9"} << 1 << QStringList{};
    // Outside over the one reading held to a band; the mean, min and max of the readings as typed.
    const QString failed = p4 + "3\t12363.3376\t21346.3679\t37.012\t37012.000\t100.00\t0\t2";
    QTest::newRow("unchecked runs, from the sums") << QStringList{"--result", "failed"} << 0 << QStringList{failed};
    QTest::newRow("unchecked runs, every reading") << QStringList{"--result", "failed", "--serial", "0004"} << 0 << QStringList{failed};
    QTest::newRow("none checked") << QStringList{"--result", "failed", "--serial", "000402"} << 0 << QStringList{p4 + "1\t37.0123\t0.0000\t37.012\t37.012\t\t0\t1"};
    QTest::newRow("a band given checks every reading") << QStringList{"--result", "failed", "--plausibility", "20"} << 0 << QStringList{p4 + "3\t12363.3376\t21346.3679\t37.012\t37012.000\t33.33\t0\t0"};
}

void TestKorvexResults::stats()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QStringList, lines);
    const Outcome o = Results(QStringList{QStringLiteral("--db"), stats_, QStringLiteral("stats")} + args);
    QVERIFY2(o.code == code, qPrintable(o.err));
    lines.prepend(QStringLiteral("model\tpoint\tunit\tnominal\tn\tmean\tsd\tmin\tmax\toutside_pct\tunusual\tunchecked"));
    QString expected = lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    if (args.contains(QStringLiteral("--csv"))) expected.replace(QLatin1Char('\t'), QLatin1Char(',')).replace(QLatin1String("\n"), QLatin1String("\r\n"));
    QCOMPARE(QString::fromUtf8(o.out), expected);
}

void TestKorvexResults::report_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QStringList>("texts");
    QStringList finished =
        QString::fromUtf8("Calibration certificate|No. bench-7-20260309-0001|000042|7212B|Anna|bench-7|25±5°C|<70%|"
                          "2026-03-09 09:00:00|1.1.0.19|finished|Tested by|Checked by|Fluke 287 on /dev/ttyUSB0|DMM-0042|"
                          "2026-03-08 (past due)|calibrated with a meter past its calibration due date|Band (±10 %)|"
                          "±10 % of the level|7 of 7|unusual|0.09–0.11 V|+0.3 mV (+0.300 %)|-0.3 mV (-0.008 %)|"
                          // deviations from the nominal level, to the readings' own places
                          "+1.2 mV (+0.030 %)|+12 mV (+0.032 %)|-5 mV (-0.025 %)|-0.2 mA (-0.200 %)|+2.1 mA (+0.068 %)|"
                          // what the figures are, and what the result leaves out
                          "before adjustment (as found)|makes no statement of conformity|a check for gross errors, not a tolerance|"
                          "Temperature (stated)|stated values, not measured|Unusual for the model: point 4.|"
                          // each reading's expanded uncertainty, worked out by hand, and the budget's inputs
                          "U (k = 2)|±0.27 mV|±1.4 mV|±13 mV|±8.1 mV|±0.41 mA|±5.6 mA|meter's accuracy DCV=0.025%+2; DCA=0.15%+2|"
                          "6: limit 0.35 mA, digit 0.1 mA, 3 readings, s 0.02 mA")
            .split(QLatin1Char('|'));
    int point = 0;
    for (const Reading& r : Readings) {
        // A reading the meter gave is marked as such.
        finished << QStringLiteral("%1 %2%3").arg(QLatin1String(r.typed), QLatin1String(r.quantity),
                                                 ++point >= 6 ? QStringLiteral(" (meter)") : QString());
        finished << QStringLiteral("%1 m%2").arg(r.sent).arg(QLatin1String(r.quantity));
    }
    QTest::newRow("finished, serial written") << 1 << finished;
    QTest::newRow("aborted, serial read only")
        << 2 << QString::fromUtf8("Calibration report|777001|aborted|3.9987 V|not measured|Tested by|"
                                  "none: not a finished calibration|0.09999–0.10001 V|1 of 2|"
                                  "Outside the plausibility band, taken as the operator confirmed them: point 1.|"
                                  "The uncertainty of the readings was not evaluated: no accuracy of the meter was entered at the bench.")
                    .split(QLatin1Char('|'));
}

void TestKorvexResults::report()
{
    QFETCH(int, id);
    QFETCH(QStringList, texts);
    const QString pdf = dir_.filePath(QStringLiteral("db/report-%1.pdf").arg(id));
    const Outcome o = Results({QStringLiteral("--db"), db_, QStringLiteral("report"), QString::number(id),
                               QStringLiteral("--pdf"), pdf});
    QVERIFY2(o.code == 0, qPrintable(o.err));

    const Outcome info = Run(QStringLiteral("pdfinfo"), {pdf});
    QCOMPARE(info.code, 0);
    const QString properties = QString::fromUtf8(info.out);
    QVERIFY2(properties.contains(QRegularExpression(QStringLiteral("Pages:\\s+1\\n"))),
             qPrintable(properties));
    QVERIFY2(properties.contains(QStringLiteral("(A4)")), qPrintable(properties));

    const Outcome text = Run(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    QCOMPARE(text.code, 0);
    // A sentence may be broken over lines where the page wraps it.
    const QString page = QString::fromUtf8(text.out).simplified();
    for (const QString& t : texts)
        QVERIFY2(page.contains(t), qPrintable(QStringLiteral("%1 is missing from:\n%2").arg(t, page)));

    const QString shots = qEnvironmentVariable("KORVEX_SCREENSHOT_DIR");
    if (id == 1 && !shots.isEmpty()) {
        const Outcome png = Run(QStringLiteral("pdftoppm"),
                                {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("60"),
                                 QStringLiteral("-singlefile"), pdf, shots + QStringLiteral("/report-page")});
        QVERIFY2(png.code == 0, qPrintable(png.err));
        QVERIFY(QFileInfo(shots + QStringLiteral("/report-page.png")).size() > 0);
    }
}

void TestKorvexResults::chart_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    // Runs drawn, the baseline's runs, mean, sigma, lower and upper limit, readings beyond them.
    QTest::addColumn<QString>("line");
    // Fewer than 20 baseline runs give a mean and a σ, and no limits.
    QTest::newRow("the first four runs as baseline") << QStringList{"--baseline-runs", "4"} << 0 << "6 4 37.01 0.001632993162 - - 0";
    QTest::newRow("one bench, the newest two") << QStringList{"--bench", "b2", "--runs", "2", "--baseline-runs", "3"} << 0
                                               << "2 3 37.011 0.001 - - 0";
    QTest::newRow("a baseline of two days")
        << QStringList{"--baseline-since", "2026-04-01", "--baseline-until", "2026-04-02"} << 0
        << "6 2 37.011 0.001414213562 - - 0";
    QTest::newRow("a baseline of one run gives no limits")
        << QStringList{"--baseline-since", "2026-04-03", "--baseline-until", "2026-04-03"} << 0 << "6 1 - - - - 0";
    QTest::newRow("a model without runs") << QStringList{"--model", "7213B"} << 1 << "0 0 - - - - 0";
    QTest::newRow("the model typed in small letters") << QStringList{"--model", "7212b", "--baseline-runs", "4"} << 0
                                                      << "6 4 37.01 0.001632993162 - - 0";
    QTest::newRow("a PDF for a .pdf name") << QStringList{"--png", "{pdf}", "--baseline-runs", "4"} << 0
                                           << "6 4 37.01 0.001632993162 - - 0";
}

void TestKorvexResults::chart()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, line);
    const QString png = dir_.filePath(QStringLiteral("db/chart.png")), pdf = dir_.filePath(QStringLiteral("db/chart.pdf"));
    QFile::remove(png);
    QFile::remove(pdf);
    args.replaceInStrings(QStringLiteral("{pdf}"), pdf);
    // The last --model and --png given count.
    const Outcome o = Results(QStringList{"--db", chart_, "chart", "--model", "7212B", "--point", "4", "--png", png} + args);
    QVERIFY2(o.code == code, qPrintable(o.err));
    const QStringList lines = QString::fromUtf8(o.out).split(QLatin1Char('\n'));
    QCOMPARE(lines.value(0), QStringLiteral("runs\tbaseline\tmean\tsigma\tlower\tupper\tbeyond"));
    const QStringList got = lines.value(1).split(QLatin1Char('\t')), expected = line.split(QLatin1Char(' '));
    QCOMPARE(got.size(), expected.size());
    for (int i = 0; i < got.size(); ++i) {
        if (expected[i] == QLatin1String("-")) QVERIFY(got[i].isEmpty());
        else QVERIFY2(std::fabs(got[i].toDouble() - expected[i].toDouble()) < 1e-8, qPrintable(lines.value(1)));
    }
    if (args.contains(pdf)) {
        QFile file(pdf);
        QVERIFY(file.open(QIODevice::ReadOnly) && file.read(5) == "%PDF-");
        QVERIFY(!QFile::exists(png));
        return;
    }
    QCOMPARE(QImage(png).size(), QSize(1600, 900));
}

void TestKorvexResults::failures_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing database")
        << QStringList{"--db", "{dir}/absent.sqlite", "list"} << 3 << "{dir}/absent.sqlite";
    QTest::newRow("damaged database") << QStringList{"--db", "{damaged}", "list"} << 3 << "{damaged}";
    QTest::newRow("empty file") << QStringList{"--db", "{empty}", "export", "--csv", "{dir}/r.csv"} << 3
                                << "{empty}";
    QTest::newRow("newer program's database")
        << QStringList{"--db", "{newer}", "list"} << 3 << "newer program";
    QTest::newRow("unknown run") << QStringList{"--db", "{db}", "report", "99", "--pdf", "{dir}/r.pdf"} << 1
                                 << "no run 99 in {db}";
    QTest::newRow("unknown command") << QStringList{"--db", "{db}", "frob"} << 2 << "\"frob\"";
    QTest::newRow("no command") << QStringList{"--db", "{db}"} << 2 << "no command";
    QTest::newRow("impossible day") << QStringList{"--db", "{db}", "list", "--since", "2026-02-30"} << 2
                                    << "2026-02-30";
    QTest::newRow("day in another form")
        << QStringList{"--db", "{db}", "list", "--until", "09.03.2026"} << 2 << "09.03.2026";
    QTest::newRow("days reversed")
        << QStringList{"--db", "{db}", "list", "--since", "2026-03-10", "--until", "2026-03-09"} << 2
        << "after --until";
    QTest::newRow("unknown result lists the valid ones")
        << QStringList{"--db", "{db}", "list", "--result", "ok"} << 2
        << "finished, failed, aborted, stalled, cleared, clearing_failed, interrupted";
    QTest::newRow("unknown option")
        << QStringList{"--db", "{db}", "list", "--colour"} << 2 << "unrecognized option '--colour'; --help shows the usage";
    QTest::newRow("unknown short option") << QStringList{"--db", "{db}", "-x", "list"} << 2 << "unrecognized option '-x'";
    QTest::newRow("option of another command")
        << QStringList{"--db", "{db}", "list", "--pdf", "{dir}/r.pdf"} << 2 << "--pdf does not apply to list";
    QTest::newRow("band of no width")
        << QStringList{"--db", "{db}", "stats", "--plausibility", "0"} << 2 << "--plausibility \"0\"";
    QTest::newRow("bench filter of stats only")
        << QStringList{"--db", "{db}", "list", "--bench", "bench-7"} << 2 << "--bench does not apply to list";
    QTest::newRow("run id not a number")
        << QStringList{"--db", "{db}", "report", "one", "--pdf", "{dir}/r.pdf"} << 2 << "\"one\"";
    QTest::newRow("PDF under a file")
        << QStringList{"--db", "{db}", "report", "1", "--pdf", "{blocked}/out.pdf"} << 4
        << "{blocked}/out.pdf";
    QTest::newRow("chart point out of range")
        << QStringList{"--db", "{db}", "chart", "--model", "7212B", "--point", "8", "--png", "{dir}/c.png"} << 2 << "\"8\"";
    QTest::newRow("chart without a file") << QStringList{"--db", "{db}", "chart", "--model", "7212B", "--point", "4"} << 2
                                          << "--png FILE";
    QTest::newRow("chart baseline both ways")
        << QStringList{"--db", "{db}", "chart", "--model", "7212B", "--point", "4", "--png", "{dir}/c.png", "--baseline-runs", "5",
                       "--baseline-since", "2026-04-01"}
        << 2 << "exclude each other";
    QTest::newRow("chart PNG under a file")
        << QStringList{"--db", "{db}", "chart", "--model", "7212B", "--point", "4", "--png", "{blocked}/c.png"} << 4 << "{blocked}/c.png";
    QTest::newRow("CSV under a file")
        << QStringList{"--db", "{db}", "export", "--csv", "{blocked}/out.csv"} << 4 << "{blocked}/out.csv";
    // Someone else's link where the file goes: the file it points at (the damaged database) stays
    // as it is, and so does the link.
    for (const char* command : {"export --csv", "stats --csv", "report 1 --pdf", "chart --model 7212B --point 4 --png"})
        QTest::newRow(qPrintable(QStringLiteral("%1 onto a link").arg(QLatin1String(command))))
            << (QStringList{"--db", "{db}"} + QString::fromLatin1(command).split(QLatin1Char(' ')) + QStringList{"{link}"}) << 4
            << "{link} is a symbolic link";
    if (!full_.isEmpty())
        for (const char* command : {"export --csv", "stats --csv", "report 1 --pdf", "chart --model 7212B --point 4 --png"})
            QTest::newRow(qPrintable(QStringLiteral("%1 on a full disk").arg(QLatin1String(command))))
                << (QStringList{"--db", "{db}"} + QString::fromLatin1(command).split(QLatin1Char(' ')) + QStringList{"{full}/old"}) << 4
                << "{full}/old cannot be written";
}

void TestKorvexResults::failures()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, message);
    QFile damaged(damaged_);
    QVERIFY(damaged.open(QIODevice::ReadOnly));
    const QByteArray damagedBytes = damaged.readAll();
    damaged.close();
    const QStringList before =
        QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);

    const Outcome o = Results(fill(args));
    QVERIFY2(o.code == code, qPrintable(QStringLiteral("exit %1: %2").arg(o.code).arg(o.err)));
    QVERIFY2(o.err.startsWith(QStringLiteral("korvex-results: ")), qPrintable(o.err));
    QVERIFY2(o.err.contains(fill({message})[0]), qPrintable(o.err));
    QCOMPARE(o.out, QByteArray());
    // Nothing created, moved aside or left half-written.
    QCOMPARE(QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), before);
    QVERIFY(damaged.open(QIODevice::ReadOnly));
    QCOMPARE(damaged.readAll(), damagedBytes);
    if (!full_.isEmpty()) {
        // An older file on the full disk is as it was, and nothing was left beside it.
        QFile old(full_ + QStringLiteral("/old"));
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("yesterday's\n"));
        QCOMPARE(QDir(full_).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }
}

void TestKorvexResults::findsTheDatabaseAsTheCalibratorDoes_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("database");
    QTest::newRow("beside Config.Ini") << QByteArray("[Config]\nPowerID=7\n") << "PowerTestDb.sqlite";
    QTest::newRow("named in [Results]")
        << QByteArray("[Results]\nDatabase=records/Line.sqlite\n") << "records/Line.sqlite";
}

void TestKorvexResults::findsTheDatabaseAsTheCalibratorDoes()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, database);
    QTemporaryDir station;
    const QString exe = station.filePath(QStringLiteral("korvex-results"));
    QVERIFY(QFile::copy(QStringLiteral(KORVEX_RESULTS_EXE), exe));
    QFile config(station.filePath(QStringLiteral("Config.Ini")));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(ini);
    config.close();
    const QString target = station.filePath(database);
    QVERIFY(QDir().mkpath(QFileInfo(target).absolutePath()));
    QVERIFY(QFile::copy(db_, target));

    const Outcome o =
        Run(exe, {QStringLiteral("list"), QStringLiteral("--result"), QStringLiteral("finished")});
    QVERIFY2(o.code == 0, qPrintable(o.err));
    QVERIFY(o.out.contains("\n1\t2026-03-09 09:00:00\t000042\t"));
}

QTEST_GUILESS_MAIN(TestKorvexResults)
#include "tst_KorvexResults.moc"
