// Prints how the results record holds up over a line's lifetime: on a generated record of a
// million runs (7 readings and 29 steps each, made once and kept), the time to open the results
// window and show its first page, each filter's first page, a chart's 10,000 readings, the
// statistics over every run, and a CSV export's rate and memory. Figures only.
// Usage: bench_million [--runs N] [--cache FOLDER] [--server-port PORT]
//   (default 1000000 runs in /var/tmp/korvex-bench; with a port, the same figures again on the
//   PostgreSQL server there, database korvex, user postgres: bench/million-server.sh starts it)
#include "CalList.h"
#include "CalPoints.h"
#include "ControlChart.h"
#include "ControlChartData.h"
#include "ReadingSummary.h"
#include "ResultsDb.h"
#include "ResultsQuery.h"
#include "ResultsStats.h"
#include "ResultsWindow.h"
#include "RunState.h"
#include "RunWords.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProcess>
#include <QSqlRecord>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QUuid>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <random>
#include <vector>

namespace {

constexpr int Benches = 8;
const QDateTime FirstRun(QDate(2021, 1, 4), QTime(7, 0));

double Median(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

// The resident set now, in kB: an export that held its result would grow it run by run.
long ResidentKb()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * 4 : 0;
}

bool Exec(QSqlQuery& q)
{
    if (q.exec()) return true;
    std::printf("generating: %s\n", qPrintable(q.lastError().text()));
    return false;
}

// A line's runs as its benches record them: one every ~158 s over five years, the benches taking
// turns, each with its own model; mostly finished; readings scattered about the level with a rare
// outlier; each run's event log as long as a real one's.
bool Generate(const QString& path, int runs)
{
    ResultsDb db;
    if (!db.open(path, ResultsDb::Mode::Record)) {
        std::printf("generating: %s\n", qPrintable(db.errorText()));
        return false;
    }
    QSqlDatabase d = db.database();
    QSqlQuery pragma(d);
    pragma.exec(QStringLiteral("PRAGMA synchronous=OFF"));
    pragma.exec(QStringLiteral("PRAGMA cache_size=-262144"));

    std::vector<TRunState> models(3);
    std::vector<QString> logs;
    for (std::uint8_t m = 0; m < 3; ++m) {
        models[m].FModel = m;
        BuildCalList(models[m], QDate(2026, 3, 9));
        QStringList lines;
        for (int n = 1; n <= CalStepCount; ++n) {
            const TEvent& e = models[m].FCalList[static_cast<std::size_t>(n - 1)];
            if (e.MeterStep) {
                lines << QStringLiteral("Average voltage : 37012mV") << QStringLiteral("Average current : 37012mA");
                continue;
            }
            lines << QStringLiteral("[Step %1] : %2").arg(n).arg(FrameToHex(e.Frame))
                  << QStringLiteral("Rece : ") + FrameToHex(e.Frame);
        }
        logs.push_back(lines.join(QLatin1Char('\n')));
    }
    const QStringList operators{"Anna", "Ben", "Chen", "Dana", "Emil", "Fatma", "Goran", "Hana", "Ivo", "Jana", "Kemal", "Lena"};
    const QString succeed = StepStateWord(StepOutcome::Succeed);

    QSqlQuery run(d), reading(d), step(d);
    run.prepare(QStringLiteral(
        "INSERT INTO TestResult (id, kind, started_at, started_ms, ended_at, ended_ms, result, serial_read, serial_written,"
        " model, address, port, baud, test_code, date_written, operator, temperature, humidity, bench, program_version,"
        " unit_counter_before, unit_counter_after, event_log, run_uid, meter_source, meter_vendor, meter_model,"
        " meter_version, meter_serial, meter_connection, certificate_no, meter_asset_id, meter_calibration_due)"
        " VALUES (?, 'calibration', ?, ?, ?, ?, ?, ?, ?, ?, 1, 'COM1', 9600, ?, ?, ?, '25±5°C', '<70%', ?, '1.1.0.19',"
        " ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    reading.prepare(QStringLiteral("INSERT INTO TestReading (run_id, point, quantity, nominal, typed, value_sent, source, unusual)"
                                   " VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    step.prepare(QStringLiteral("INSERT INTO TestStep (run_id, step, state, sends, at) VALUES (?, ?, ?, ?, ?)"));

    std::mt19937_64 rng(26);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const QStringList results = ResultWords();
    QElapsedTimer t;
    t.start();
    d.transaction();
    for (qint64 id = 1; id <= runs; ++id) {
        const int bench = static_cast<int>(id % Benches);
        const std::uint8_t model = static_cast<std::uint8_t>(bench % 3);
        const QDateTime started = FirstRun.addMSecs(id * 157680);
        const QDateTime ended = started.addSecs(95);
        const double u = unit(rng);
        const QString result = u < 0.94 ? results[0] : u < 0.97 ? results[1] : u < 0.99 ? results[2] : results[3];
        const QString serial = QStringLiteral("%1").arg(id % 1000000, 6, 10, QLatin1Char('0'));
        const bool meter = id % 2 == 0;
        const QVariant none(QMetaType(QMetaType::QString));
        for (const QVariant& v : QVariantList{
                 id, IsoTime(started), started.toMSecsSinceEpoch(), IsoTime(ended), ended.toMSecsSinceEpoch(), result,
                 id % 3 == 0 ? QVariant(serial) : none, serial, ModelName(model), QStringLiteral("21%1A0").arg(model),
                 started.date().toString(Qt::ISODate), operators[static_cast<int>(id % operators.size())],
                 QStringLiteral("bench-%1").arg(bench + 1), id, id + 1, logs[model],
                 QUuid::createUuid().toString(QUuid::WithoutBraces), meter ? QVariant("fluke-dmm") : none,
                 meter ? QVariant("Fluke") : none, meter ? QVariant("287") : none, meter ? QVariant("V1.16") : none,
                 meter ? QVariant("9012345") : none, meter ? QVariant("/dev/ttyUSB0") : none,
                 result == results[0] ? QVariant(QStringLiteral("KX-%1").arg(id, 7, 10, QLatin1Char('0'))) : none,
                 meter ? QVariant("M-0042") : none, meter ? QVariant("2027-01-31") : none})
            run.addBindValue(v);
        if (!Exec(run)) return false;
        for (const CalPoint& p : CalPoints()) {
            const double nominal = NominalValue(p, model) * 1000.0;
            // A bench's own small offset, the spread of the supplies, and one reading in a
            // thousand typed wrong by about 15 %.
            double z = noise(rng);
            double milli = nominal * (1.0 + 0.0004 * (bench - 3.5) / 3.5 + 0.002 * z);
            if (unit(rng) < 0.001) {
                milli = nominal * (unit(rng) < 0.5 ? 0.85 : 1.15);
                z = 75;
            }
            const qint64 sent = std::llround(milli);
            for (const QVariant& v : QVariantList{id, p.number, p.quantity == Quantity::Current ? "A" : "V",
                                                  NominalLevel(p, model), QString::number(sent / 1000.0, 'f', 3), sent,
                                                  meter ? "meter" : "typed", std::fabs(z) > 4 ? 1 : 0})
                reading.addBindValue(v);
            if (!Exec(reading)) return false;
        }
        for (int n = 1; n <= CalStepCount; ++n) {
            for (const QVariant& v : QVariantList{id, n, succeed, n % 3 == 0 ? 1 : 0, IsoTime(started.addMSecs(n * 3200))})
                step.addBindValue(v);
            if (!Exec(step)) return false;
        }
        if (id % 20000 == 0) {
            d.commit();
            d.transaction();
            std::fprintf(stderr, "\rgenerating: %lld of %d runs, %.0f s", id, runs, static_cast<double>(t.elapsed()) / 1000.0);
        }
    }
    d.commit();
    // Rows written past the record, as a migration finds them: summed up the same way.
    QString why;
    if (!d.transaction() || !AddToReadingSummary(d, 0, &why) || !d.commit()) {
        std::printf("generating: %s\n", qPrintable(why));
        return false;
    }
    pragma.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    std::fprintf(stderr, "\n");
    std::printf("generated %d runs in %.0f s\n", runs, static_cast<double>(t.elapsed()) / 1000.0);
    return true;
}

// Repeats `work`, with `before` and `after` around each time untimed, and prints its median and
// first time; `targetMs` is its limit.
// Where the figures come from: empty for the file, "server: " for the line's server.
QString Where;

void Time(const QString& what, double targetMs, const std::function<QString()>& work, int repeats = 5,
          const std::function<void()>& before = {}, const std::function<void()>& after = {})
{
    std::vector<double> ms;
    QString note;
    for (int i = 0; i < repeats; ++i) {
        if (before) before();
        QElapsedTimer t;
        t.start();
        note = work();
        ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        if (after) after();
    }
    std::printf("%-62s median %8.1f ms   first %8.1f ms   (target: under %.0f ms)%s%s\n", qPrintable(Where + what), Median(ms),
                ms.front(), targetMs, note.isEmpty() ? "" : "   ", qPrintable(note));
}

void Window(const QString& path, const std::optional<ServerSettings>& server)
{
    // What the operator waits for: the window built, shown, the list queried and painted.
    Time(QStringLiteral("results window opens and shows its first page"), 100, [&] {
        ResultsWindow w(path);
        if (server) w.setLineServer(*server);
        w.show();
        QApplication::processEvents();
        w.repaint();
        return QStringLiteral("%1 rows fetched").arg(w.tableRuns->model()->rowCount());
    });

    ResultsWindow w(path);
    if (server) w.setLineServer(*server);
    w.show();
    QApplication::processEvents();
    if (w.labelStatus->isVisible()) std::printf("%s\n", qPrintable(w.labelStatus->text()));
    // Each filter as the operator sets it, timed from the change to the list painted; a serial
    // number is applied with Enter rather than after the typing pause.
    auto serial = [&w](const char* text) {
        return std::function<void()>([&w, text] {
            w.editSerial->setText(QString::fromLatin1(text));
            emit w.editSerial->returnPressed();
        });
    };
    auto result = [&w](const char* word) {
        return std::function<void()>([&w, word] { w.comboResult->setCurrentIndex(w.comboResult->findData(QString::fromLatin1(word))); });
    };
    const QDate lastDay = FirstRun.date().addDays(5 * 365);
    struct Filter {
        const char* what;
        std::function<void()> before, apply, after;
    };
    const std::vector<Filter> filters{
        {"filter: serial \"12\"", {}, serial("12"), serial("")},
        {"filter: serial \"4711\"", {}, serial("4711"), serial("")},
        {"filter: serial \"123456\" (one unit)", {}, serial("123456"), serial("")},
        {"filter: serial \"x\" (none)", {}, serial("x"), serial("")},
        {"filter: from the last year's first day", [&] { w.dateFrom->setDate(lastDay.addYears(-1)); },
         [&] { w.checkFrom->setChecked(true); }, [&] { w.checkFrom->setChecked(false); }},
        {"filter: to the first year's last day", [&] { w.dateTo->setDate(FirstRun.date().addYears(1)); },
         [&] { w.checkTo->setChecked(true); }, [&] { w.checkTo->setChecked(false); }},
        {"filter: one day two years ago (To added to From)",
         [&] {
             w.dateFrom->setDate(lastDay.addYears(-2));
             w.dateTo->setDate(lastDay.addYears(-2));
             w.checkFrom->setChecked(true);
         },
         [&] { w.checkTo->setChecked(true); }, [&] { w.checkTo->setChecked(false); w.checkFrom->setChecked(false); }},
        {"filter: result finished", {}, result("finished"), [&] { w.comboResult->setCurrentIndex(0); }},
        {"filter: result stalled (1 %)", {}, result("stalled"), [&] { w.comboResult->setCurrentIndex(0); }},
        {"filter: result interrupted (none)", {}, result("interrupted"), [&] { w.comboResult->setCurrentIndex(0); }},
        {"filter: serial \"4711\" and result stalled", [&] { result("stalled")(); }, serial("4711"),
         [&] { serial("")(); w.comboResult->setCurrentIndex(0); }},
        {"filter: serial \"4711\" and result finished", [&] { result("finished")(); }, serial("4711"),
         [&] { serial("")(); w.comboResult->setCurrentIndex(0); }},
        {"filter: serial \"4711\" from the last year's first day",
         [&] {
             w.dateFrom->setDate(lastDay.addYears(-1));
             w.checkFrom->setChecked(true);
         },
         serial("4711"), [&] { serial("")(); w.checkFrom->setChecked(false); }},
        {"filter: serial \"98\"", {}, serial("98"), serial("")},
    };
    for (const Filter& f : filters) {
        Time(
            QString::fromUtf8(f.what), 100,
            [&] {
                f.apply();
                w.repaint();
                return QStringLiteral("%1 rows fetched").arg(w.tableRuns->model()->rowCount());
            },
            5, f.before, f.after);
    }
}

// A value as COPY's text format writes it.
QByteArray CopyField(const QVariant& v)
{
    if (v.isNull()) return QByteArrayLiteral("\\N");
    QByteArray b = v.toString().toUtf8();
    return b.replace('\\', "\\\\").replace('\t', "\\t").replace('\n', "\\n").replace('\r', "\\r");
}

// Copies a table of the file into the server as psql's COPY takes it: a bench's line would have
// sent the same rows one run at a time.
bool CopyTable(const QSqlDatabase& file, const ServerSettings& server, const QString& table)
{
    QSqlQuery q(file);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT * FROM %1").arg(table))) {
        std::printf("loading %s: %s\n", qPrintable(table), qPrintable(q.lastError().text()));
        return false;
    }
    QStringList columns;
    for (int i = 0; i < q.record().count(); ++i) columns << q.record().fieldName(i);
    QProcess psql;
    psql.setProcessChannelMode(QProcess::ForwardedChannels);
    psql.start(QStringLiteral("/usr/lib/postgresql/15/bin/psql"),
               {QStringLiteral("-h"), server.host, QStringLiteral("-p"), QString::number(server.port), QStringLiteral("-U"), server.user,
                QStringLiteral("-d"), server.database, QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-qc"),
                QStringLiteral("COPY %1 (%2) FROM STDIN").arg(table, columns.join(QStringLiteral(", ")))});
    if (!psql.waitForStarted()) return false;
    qint64 rows = 0;
    QByteArray chunk;
    while (q.next()) {
        for (int i = 0; i < columns.size(); ++i) {
            if (i > 0) chunk += '\t';
            chunk += CopyField(q.value(i));
        }
        chunk += '\n';
        if (++rows % 100000 == 0) std::fprintf(stderr, "\rloading %s: %lld rows", qPrintable(table), rows);
        if (chunk.size() > (1 << 20)) {
            psql.write(chunk);
            chunk.clear();
            // The pipe takes what the server has read; the rest would pile up in this process.
            while (psql.bytesToWrite() > (8 << 20)) psql.waitForBytesWritten(-1);
        }
    }
    psql.write(chunk);
    psql.closeWriteChannel();
    psql.waitForFinished(-1);
    std::fprintf(stderr, "\rloading %s: %lld rows\n", qPrintable(table), rows);
    return psql.exitStatus() == QProcess::NormalExit && psql.exitCode() == 0 && !q.lastError().isValid();
}

// The line's server holding the same runs as the file: its schema made by a bench's own opening,
// then the rows copied once and the server's statistics gathered.
bool LoadServer(const QString& path, const ServerSettings& server)
{
    ResultsDb line;
    if (!line.openServer(server, ResultsDb::Mode::Record)) {
        std::printf("server: %s\n", qPrintable(line.errorText()));
        return false;
    }
    QSqlQuery q(line.database());
    if (!q.exec(QStringLiteral("SELECT count(*) FROM TestResult")) || !q.next()) return false;
    if (q.value(0).toLongLong() == 0) {
        ResultsDb file;
        if (!file.open(path, ResultsDb::Mode::Read)) return false;
        QElapsedTimer t;
        t.start();
        for (const char* table : {"TestResult", "TestReading", "TestStep", "ReadingSummary"})
            if (!CopyTable(file.database(), server, QString::fromLatin1(table))) return false;
        if (!q.exec(QStringLiteral("SELECT setval(pg_get_serial_sequence('testresult', 'id'), (SELECT max(id) FROM TestResult))")) ||
            !q.exec(QStringLiteral("VACUUM ANALYZE"))) {
            std::printf("server: %s\n", qPrintable(q.lastError().text()));
            return false;
        }
        std::printf("loaded the runs into the server in %.0f s\n", static_cast<double>(t.elapsed()) / 1000.0);
    }
    if (!q.exec(QStringLiteral("SELECT pg_database_size(current_database()), (SELECT count(*) FROM TestResult)")) || !q.next()) return false;
    std::printf("server record of %lld runs: %.1f MB, %.0f bytes per run\n", q.value(1).toLongLong(), q.value(0).toDouble() / 1e6,
                q.value(0).toDouble() / std::max(1.0, q.value(1).toDouble()));
    return true;
}

// The figures of the record in the file at `path`, or, given `server`, of the same runs on the
// line's server, which the results window reads instead.
bool Figures(const QString& path, int runs, const std::optional<ServerSettings>& server)
{
    Window(path, server);

    ResultsDb db;
    if (server ? !db.openServer(*server, ResultsDb::Mode::Read) : !db.open(path, ResultsDb::Mode::Read)) {
        std::printf("%s\n", qPrintable(db.errorText()));
        return false;
    }
    // As the results window's chart page does it: the query, the limits, and the painting.
    for (int point : {1, 4}) {
        const QString what = QStringLiteral("control chart of the 7212B's last 10,000, point %1").arg(point);
        Time(what, 100, [&] {
            ChartRequest request;
            request.model = QStringLiteral("7212B");
            request.point = point;
            request.lastRuns = 10000;
            request.plausibilityShare = 0.10;
            ControlChartData data;
            QString error;
            if (!LoadControlChart(db.database(), request, &data, &error)) return error;
            ControlChart chart;
            chart.resize(ChartPictureSize);
            chart.setData(data);
            const QPixmap drawn = chart.grab();
            return QStringLiteral("%1 readings, %2 beyond the limits, drawn %3x%4")
                .arg(data.samples.size())
                .arg(data.beyond)
                .arg(drawn.width())
                .arg(drawn.height());
        });
    }
    Time(QStringLiteral("statistics over every run (stats)"), 1000, [&] {
        std::vector<PointStats> stats;
        QString error;
        if (!ReadingStats(db.database(), RunFilter{}, 0, &stats, &error)) return error;
        qint64 n = 0;
        for (const PointStats& p : stats) n += p.n;
        return QStringLiteral("%1 readings").arg(n);
    }, 3);

    // An export to a sink that only counts: its rate over each tenth of the runs, and the memory.
    class Counter : public QIODevice {
    public:
        std::function<void(qint64)> seen;
        qint64 lines = 0;

    protected:
        qint64 readData(char*, qint64) override { return -1; }
        qint64 writeData(const char* data, qint64 size) override
        {
            lines += std::count(data, data + size, '\n');
            if (seen) seen(lines);
            return size;
        }
    } sink;
    sink.open(QIODevice::WriteOnly);
    std::vector<double> rates;
    std::vector<long> resident;
    QElapsedTimer t;
    qint64 lastMs = 0;
    const qint64 tenth = std::max(1, runs / 10);
    sink.seen = [&](qint64 lines) {
        if (lines % tenth != 0) return;
        const qint64 now = t.elapsed();
        rates.push_back(static_cast<double>(tenth) * 1000.0 / static_cast<double>(std::max<qint64>(1, now - lastMs)));
        lastMs = now;
        resident.push_back(ResidentKb());
    };
    const long before = ResidentKb();
    t.start();
    QString error;
    ExportCsv(db.database(), RunFilter{}, sink, &error);
    std::printf("%sexport of every run as CSV: %.1f s; runs per second by tenths:", qPrintable(Where), static_cast<double>(t.elapsed()) / 1000.0);
    for (double r : rates) std::printf(" %.0f", r);
    std::printf("\n  resident memory before %ld kB, by tenths:", before);
    for (long kb : resident) std::printf(" %ld", kb);
    std::printf(" kB%s%s\n", error.isEmpty() ? "" : "   ", qPrintable(error));
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int runs = 1000000;
    QString cache = QStringLiteral("/var/tmp/korvex-bench");
    int port = 0;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--runs")) runs = args[i + 1].toInt();
        if (args[i] == QLatin1String("--cache")) cache = args[i + 1];
        if (args[i] == QLatin1String("--server-port")) port = args[i + 1].toInt();
    }
    if (runs <= 0 || !QDir().mkpath(cache)) return 2;
    // Made once per schema: a file of an older one would be migrated, not measured as it is.
    const QString path =
        QDir(cache).filePath(QStringLiteral("runs-%1-schema%2.sqlite").arg(runs).arg(ResultsDb::SchemaVersionNow));
    // A record kept from an older schema is migrated as a bench's own would be, and timed.
    for (int older = ResultsDb::SchemaVersionNow - 1; older > 0 && !QFileInfo::exists(path); --older) {
        const QString old = QDir(cache).filePath(QStringLiteral("runs-%1-schema%2.sqlite").arg(runs).arg(older));
        if (!QFileInfo::exists(old)) continue;
        for (const char* companion : {"", "-wal", "-shm"})
            if (QFileInfo::exists(old + QLatin1String(companion))) QFile::rename(old + QLatin1String(companion), path + QLatin1String(companion));
        QElapsedTimer t;
        t.start();
        ResultsDb db;
        if (!db.open(path, ResultsDb::Mode::Record)) {
            std::printf("migrating: %s\n", qPrintable(db.errorText()));
            return 1;
        }
        std::printf("migrated the record of %d runs from schema %d to %d in %.1f s\n", runs, older,
                    ResultsDb::SchemaVersionNow, static_cast<double>(t.elapsed()) / 1000.0);
    }
    if (!QFileInfo::exists(path)) {
        const QString part = path + QStringLiteral(".part");
        for (const QString& f : {part, part + QStringLiteral("-wal"), part + QStringLiteral("-shm")}) QFile::remove(f);
        if (!Generate(part, runs) || !QFile::rename(part, path)) return 1;
    }
    qint64 used = 0;
    {
        ResultsDb db;
        if (db.open(path, ResultsDb::Mode::Read)) {
            QSqlQuery q(db.database());
            // Pages an index dropped by a migration left free are reused by the record, not returned.
            if (q.exec(QStringLiteral("SELECT (page_count - freelist_count) * page_size FROM pragma_page_count, pragma_freelist_count, pragma_page_size")) && q.next())
                used = q.value(0).toLongLong();
        }
    }
    const qint64 bytes = QFileInfo(path).size();
    std::printf("record of %d runs: %s, %.1f MB (%.1f MB in use), %.0f bytes per run in use\n", runs, qPrintable(path),
                static_cast<double>(bytes) / 1e6, static_cast<double>(used) / 1e6, static_cast<double>(used) / runs);

    if (!Figures(path, runs, std::nullopt)) return 1;
    if (port > 0) {
        ServerSettings server;
        server.host = QStringLiteral("127.0.0.1");
        server.port = port;
        server.database = QStringLiteral("korvex");
        server.user = QStringLiteral("postgres");
        server.sslMode = QStringLiteral("disable");
        server.trustedNetwork = true;
        // Loading and vacuuming a million runs takes longer than a bench's statements.
        server.statementTimeoutMs = 3600000;
        if (!LoadServer(path, server)) return 1;
        Where = QStringLiteral("server: ");
        if (!Figures(path, runs, server)) return 1;
    }
    return 0;
}
