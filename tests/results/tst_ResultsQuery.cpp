// Tests of reading the results back: CSV quoting and export, the filters of the run list, and the
// control chart's data.
#include "ControlChartData.h"
#include "ResultsDb.h"
#include "ResultsQuery.h"

#include <QBuffer>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace {

using Ids = QList<qint64>;

// The moment as the record writes it: local time with its offset.
QString Iso(const QDateTime& t) { return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs); }

QDateTime At(const char* localTime)
{
    return QDateTime::fromString(QString::fromLatin1(localTime), Qt::ISODate);
}

// Runs put in with plain SQL; `seconds` < 0 leaves the run without an end.
qint64 AddRun(const QSqlDatabase& db, const QDateTime& started, int seconds, QVariantMap columns)
{
    columns.insert(QStringLiteral("kind"), QStringLiteral("calibration"));
    columns.insert(QStringLiteral("started_at"), Iso(started));
    columns.insert(QStringLiteral("started_ms"), started.toMSecsSinceEpoch());
    if (seconds >= 0) {
        columns.insert(QStringLiteral("ended_at"), Iso(started.addSecs(seconds)));
        columns.insert(QStringLiteral("ended_ms"), started.addSecs(seconds).toMSecsSinceEpoch());
    }
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT INTO TestResult (%1) VALUES (%2)")
                  .arg(columns.keys().join(QLatin1Char(',')),
                       QStringList(columns.size(), QStringLiteral("?")).join(QLatin1Char(','))));
    for (const QVariant& v : columns) q.addBindValue(v);
    if (!q.exec()) qWarning() << q.lastError().text();
    return q.lastInsertId().toLongLong();
}

// Point 4 of 24 finished 7212B calibrations, a day apart from 2026-04-01, on two benches in turn;
// the first 20 make a baseline of mean 37.010 V, σ 6.6 mV, which the sixth and the eighth leave.
// A failed run and another model's are not charted.
const double ChartValues[] = {37.010, 37.012, 37.008, 37.010, 37.011, 37.030, 37.009, 36.990, 37.010, 37.011, 37.009, 37.010,
                              37.012, 37.008, 37.010, 37.011, 37.009, 37.010, 37.012, 37.008, 37.010, 37.011, 37.009, 37.010};
constexpr int ChartRuns = 24;

bool AddChartRuns(const QSqlDatabase& db)
{
    auto run = [&](int day, const char* result, const char* model, const char* bench, const QString& typed) {
        const qint64 id = AddRun(db, QDateTime(QDate(2026, 4, day), QTime(9, 0)), 60,
                                 {{"result", QString::fromLatin1(result)}, {"model", QString::fromLatin1(model)},
                                  {"bench", QString::fromLatin1(bench)}});
        QSqlQuery q(db);
        q.prepare(QStringLiteral("INSERT INTO TestReading (run_id, point, quantity, typed, value_sent) VALUES (?, 4, 'V', ?, 0)"));
        q.addBindValue(id);
        q.addBindValue(typed);
        return id > 0 && q.exec();
    };
    bool ok = run(1, "failed", "7212B", "bench-1", QStringLiteral("37.5")) && run(2, "finished", "7211B", "bench-1", QStringLiteral("19.0"));
    for (int i = 0; i < ChartRuns; ++i)
        ok = ok && run(i + 1, "finished", "7212B", i % 2 ? "bench-2" : "bench-1", QString::number(ChartValues[i], 'f', 3));
    return ok;
}

}  // namespace

class TestResultsQuery : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void csvField_data();
    void csvField();
    void exportCsv_data();
    void exportCsv();
    void listFilters_data();
    void listFilters();
    void serialIndex_data();
    void serialIndex();
    void histogram_data();
    void histogram();
    void axisTicks_data();
    void axisTicks();
    void controlChart_data();
    void controlChart();
    void chartBaseline_data();
    void chartBaseline();

private:
    QTemporaryDir dir_;
    ResultsDb db_;
    Ids ids_;
    ResultsDb chartDb_;
};

void TestResultsQuery::initTestCase()
{
    QVERIFY(dir_.isValid());
    QVERIFY2(db_.open(dir_.filePath(QStringLiteral("PowerTestDb.sqlite")), ResultsDb::Mode::Record),
             qPrintable(db_.errorText()));
    const QSqlDatabase db = db_.database();
    auto s = [](const char* text) { return QString::fromUtf8(text); };
    ids_ << AddRun(db, At("2026-03-01T10:00:00"), 60,
                   {{"serial_written", s("100%")},
                    {"result", s("finished")},
                    {"operator", s("Anna")},
                    {"temperature", s("25±5°C")},
                    {"meter_source", s("fluke-dmm")},
                    {"meter_model", s("287")},
                    {"meter_connection", s("/dev/ttyUSB0")}});
    ids_ << AddRun(db, At("2026-03-02T23:59:59"), 30,
                   {{"serial_written", s("100X")}, {"result", s("failed")}, {"operator", s("Ben, Jr.")},
                    {"meter_asset_id", s("@SUM(A1)")}, {"plausibility_pct", 0.0}});
    QVERIFY(QSqlQuery(db).exec("INSERT INTO TestReading (run_id, point, quantity, typed, value_sent, source, unusual) VALUES"
                               " (2, 1, 'V', '=1+2', 100, 'typed', 1), (2, 6, 'A', '-0.0002', 0, 'meter', 0)"));
    ids_ << AddRun(
        db, At("2026-03-03T00:00:00"), 90,
        {{"serial_read", s("1_5")}, {"result", s("finished")}, {"operator", s("Cleo \"the\" Tech")}});
    ids_ << AddRun(db, At("2026-03-03T12:00:00"), 5,
                   {{"serial_written", s("1A5")}, {"result", s("aborted")}, {"operator", s("Dan")}});
    ids_ << AddRun(
        db, At("2026-03-05T08:00:00"), -1,
        {{"serial_written", s("000042")}, {"serial_read", s("000042")}, {"result", s("interrupted")}});
    QCOMPARE(ids_, (Ids{1, 2, 3, 4, 5}));
    QVERIFY(chartDb_.open(dir_.filePath(QStringLiteral("Chart.sqlite")), ResultsDb::Mode::Record));
    QVERIFY(AddChartRuns(chartDb_.database()));
}

void TestResultsQuery::csvField_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("field");
    QTest::newRow("plain") << "7212B"
                           << "7212B";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("blanks are data") << " x "
                                     << " x ";
    QTest::newRow("comma") << "Ben, Jr."
                           << "\"Ben, Jr.\"";
    QTest::newRow("quotes doubled") << "say \"hi\""
                                    << "\"say \"\"hi\"\"\"";
    QTest::newRow("a lone quote") << "\""
                                  << "\"\"\"\"";
    QTest::newRow("CR") << "a\rb"
                        << "\"a\rb\"";
    QTest::newRow("LF") << "a\nb"
                        << "\"a\nb\"";
    QTest::newRow("non-ASCII untouched") << QString::fromUtf8("25±5°C") << QString::fromUtf8("25±5°C");
    // What a spreadsheet would run as a formula is kept as text.
    QTest::newRow("a meter answering a formula") << "=HYPERLINK(\"http://x\",\"y\")" << "\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\"";
    QTest::newRow("plus") << "+1+1" << "\"'+1+1\"";
    QTest::newRow("minus, not a number") << "-2+3" << "\"'-2+3\"";
    QTest::newRow("at") << "@SUM(A1)" << "\"'@SUM(A1)\"";
    QTest::newRow("a negative number stays one") << "-0.25" << "-0.25";
}

void TestResultsQuery::csvField()
{
    QFETCH(QString, text);
    QFETCH(QString, field);
    QCOMPARE(CsvField(text), field);
}

void TestResultsQuery::exportCsv_data()
{
    QTest::addColumn<QString>("result");
    QTest::addColumn<Ids>("ids");
    QTest::addColumn<QStringList>("cells");  // column=cell of the first run listed, as written
    QTest::newRow("every run, newest first") << "" << Ids{5, 4, 3, 2, 1} << QStringList{"plausibility_pct="};
    QTest::newRow("filtered") << "finished" << Ids{3, 1} << QStringList{};
    QTest::newRow("readings and band; formulas stay text, numbers numbers")
        << "failed" << Ids{2}
        << QStringList{"p1_reading=\"'=1+2\"", "p1_written=100", "p1_source=typed", "p1_unusual=1", "p6_reading=-0.0002", "p6_source=meter",
                       "p7_reading=", "p7_unusual=", "meter_asset_id=\"'@SUM(A1)\"", "plausibility_pct=0"};
}

void TestResultsQuery::exportCsv()
{
    QFETCH(QString, result);
    QFETCH(Ids, ids);
    QFETCH(QStringList, cells);
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    QString error;
    RunFilter filter;
    filter.result = result;
    QVERIFY2(ExportCsv(db_.database(), filter, out, &error), qPrintable(error));

    const QByteArray bytes = out.data();
    QCOMPARE(QString::fromUtf8(bytes).toUtf8(), bytes);
    QVERIFY(bytes.endsWith("\r\n"));
    QCOMPARE(bytes.count('\n'), bytes.count("\r\n"));
    QList<QByteArray> lines = bytes.split('\n');
    QCOMPARE(lines.takeLast(), QByteArray());
    QCOMPARE(lines.takeFirst(), CsvColumns().join(QLatin1Char(',')).toUtf8() + '\r');
    QCOMPARE(lines.size(), ids.size());
    QStringList got;
    QRegularExpressionMatchIterator it = QRegularExpression(QStringLiteral("(?:^|,)(\"(?:[^\"]|\"\")*\"|[^,]*)")).globalMatch(QString::fromUtf8(lines[0].chopped(1)));
    while (it.hasNext()) got << it.next().captured(1);
    QCOMPARE(got.size(), CsvColumns().size());
    for (const QString& cell : cells) QCOMPARE(cell.section(QLatin1Char('='), 0, 0) + QLatin1Char('=') + got.value(CsvColumns().indexOf(cell.section(QLatin1Char('='), 0, 0)), QStringLiteral("?")), cell);
    for (int i = 0; i < ids.size(); ++i) {
        QVERIFY(lines[i].startsWith(QByteArray::number(ids[i]) + ",calibration,"));
        if (!result.isEmpty()) QVERIFY(lines[i].contains("," + result.toUtf8() + ","));
        if (ids[i] == 1)
            QVERIFY(
                lines[i].contains(",Anna,25\xC2\xB1"
                                  "5\xC2\xB0"
                                  "C,"));
        // The meter's columns follow the run's, the vendor and serial left empty.
        if (ids[i] == 1) QVERIFY2(lines[i].contains(",Anna,25\xC2\xB1" "5\xC2\xB0" "C,,,,,,fluke-dmm,,287,,,/dev/ttyUSB0,"), lines[i].constData());
        if (ids[i] == 3) QVERIFY(lines[i].contains(",\"Cleo \"\"the\"\" Tech\","));
    }
}

void TestResultsQuery::listFilters_data()
{
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QDate>("from");
    QTest::addColumn<QDate>("to");
    QTest::addColumn<QString>("result");
    QTest::addColumn<Ids>("ids");
    const QDate any;
    QTest::newRow("no filter") << "" << any << any << "" << Ids{5, 4, 3, 2, 1};
    QTest::newRow("part of a serial") << "00" << any << any << "" << Ids{5, 2, 1};
    QTest::newRow("% is a character") << "%" << any << any << "" << Ids{1};
    QTest::newRow("_ is a character, also in the serial read") << "_" << any << any << "" << Ids{3};
    QTest::newRow("1_5 is not 1A5") << "1_5" << any << any << "" << Ids{3};
    QTest::newRow("one day, to its last second")
        << "" << QDate(2026, 3, 2) << QDate(2026, 3, 2) << "" << Ids{2};
    QTest::newRow("since, from midnight") << "" << QDate(2026, 3, 3) << any << "" << Ids{5, 4, 3};
    QTest::newRow("until, that day included") << "" << any << QDate(2026, 3, 3) << "" << Ids{4, 3, 2, 1};
    QTest::newRow("result") << "" << any << any << "finished" << Ids{3, 1};
    QTest::newRow("combined") << "1" << QDate(2026, 3, 2) << any << "finished" << Ids{3};
    QTest::newRow("nothing selected") << "" << any << any << "stalled" << Ids{};
    // Through the index of pieces, the letters' case counts as little as before.
    QTest::newRow("one letter, either case") << "x" << any << any << "" << Ids{2};
    QTest::newRow("three, either case") << "1a5" << any << any << "" << Ids{4};
}

void TestResultsQuery::listFilters()
{
    QFETCH(QString, serial);
    QFETCH(QDate, from);
    QFETCH(QDate, to);
    QFETCH(QString, result);
    QFETCH(Ids, ids);
    const RunFilter filter{.serial = serial, .from = from, .to = to, .result = result};

    QVariantList binds;
    const QString sql = RunListSql(filter, &binds);
    QCOMPARE(sql.count(QLatin1Char('?')), binds.size());

    std::vector<RunSummary> runs;
    QString error;
    QVERIFY2(ListRuns(db_.database(), filter, &runs, &error), qPrintable(error));
    Ids got;
    for (const RunSummary& r : runs) got << r.id;
    QCOMPARE(got, ids);
}

void TestResultsQuery::serialIndex_data()
{
    QTest::addColumn<QString>("serial");
    QTest::addColumn<int>("lookup");  // SerialLookup
    QTest::addColumn<Ids>("ids");
    const int scan = int(SerialLookup::Scan), index = int(SerialLookup::Index), nothing = int(SerialLookup::Nothing);
    QTest::newRow("written and read") << "4711" << index << Ids{1};
    QTest::newRow("the number a run's serial was changed to") << "4712" << index << Ids{2};
    QTest::newRow("only read") << "0004" << index << Ids{3};
    QTest::newRow("of a deleted run") << "7777" << index << Ids{};
    QTest::newRow("a piece no number has") << "9" << nothing << Ids{};
    QTest::newRow("other letters: read the long way") << QStringLiteral("\u00e4") << scan << Ids{};
    // A number longer than the list of pieces goes: short texts are no longer answered from it.
    QTest::newRow("in a long number") << "89" << scan << Ids{3};
    QTest::newRow("three of a long number") << "789" << index << Ids{3};
}

void TestResultsQuery::serialIndex()
{
    QFETCH(QString, serial);
    QFETCH(int, lookup);
    QFETCH(Ids, ids);
    // The index follows every change of a run's serial numbers, as the record makes them.
    QTemporaryDir dir;
    ResultsDb record;
    QVERIFY(record.open(dir.filePath(QStringLiteral("Serials.sqlite")), ResultsDb::Mode::Record));
    const QSqlDatabase db = record.database();
    QSqlQuery q(db);
    QVERIFY(q.exec("INSERT INTO TestResult (kind, started_at, started_ms, result, serial_written, serial_read) VALUES"
                   " ('calibration', 'a', 1, 'finished', '004711', '004711'), ('calibration', 'b', 2, 'finished', NULL, '104711'),"
                   " ('calibration', 'c', 3, 'finished', NULL, '000042'), ('calibration', 'd', 4, 'finished', '777777', NULL)"));
    QVERIFY(q.exec("UPDATE TestResult SET serial_read = '204712', serial_written = '204712' WHERE id = 2"));
    QVERIFY(q.exec("DELETE FROM TestResult WHERE id = 4"));
    if (QByteArray(QTest::currentDataTag()).contains("long number"))
        QVERIFY(q.exec("UPDATE TestResult SET serial_written = '123456789' WHERE id = 3"));
    const RunFilter filter = PlanRunFilter(db, {.serial = serial});
    QCOMPARE(int(filter.serialLookup), lookup);
    std::vector<RunSummary> runs;
    QString error;
    QVERIFY2(ListRuns(db, filter, &runs, &error), qPrintable(error));
    Ids got;
    for (const RunSummary& r : runs) got << r.id;
    QCOMPARE(got, ids);
}

void TestResultsQuery::histogram_data()
{
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<QList<int>>("counts");  // four bins from 0 to 4
    QTest::newRow("on the edges, the last one closed") << QList<double>{0, 0.5, 1, 2, 3, 4} << QList<int>{2, 1, 1, 2};
    QTest::newRow("outside left out") << QList<double>{-0.1, 4.1, 2.5} << QList<int>{0, 0, 1, 0};
}

void TestResultsQuery::histogram()
{
    QFETCH(QList<double>, values);
    QFETCH(QList<int>, counts);
    QList<int> got;
    for (const HistogramBin& b : Histogram({values.begin(), values.end()}, 0.0, 4.0, 4)) got << b.count;
    QCOMPARE(got, counts);
}

void TestResultsQuery::axisTicks_data()
{
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<QString>("format");  // the fewest decimals that keep the labels apart
    QTest::newRow("readings of 37 V a few mV apart") << 37.008 << 37.014 << 7 << "%.3f";
    QTest::newRow("a 100 mV point's band, half steps") << 0.09 << 0.11 << 5 << "%.3f";
    QTest::newRow("whole volts") << 30.0 << 40.0 << 6 << "%.0f";
    QTest::newRow("a tenth of a millivolt") << 37.0100 << 37.0104 << 5 << "%.4f";
}

void TestResultsQuery::axisTicks()
{
    QFETCH(double, min);
    QFETCH(double, max);
    QFETCH(int, ticks);
    QFETCH(QString, format);
    QCOMPARE(TickLabelFormat(min, max, ticks), format);
    // Whole runs, never more than ten ticks, the fewest runs per tick that allow it.
    for (const auto& [runs, interval] : {std::pair{1, 1}, {10, 1}, {11, 2}, {25, 5}, {101, 20}, {1000, 100}})
        QCOMPARE(RunTickInterval(runs), interval);
    // The narrow histogram's counts: at most three ticks past zero.
    for (const auto& [runs, interval] : {std::pair{3, 1}, {4, 2}, {22, 10}})
        QCOMPARE(RunTickInterval(runs, 3), interval);
}

void TestResultsQuery::controlChart_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("bench");
    QTest::addColumn<int>("lastRuns");
    QTest::addColumn<QDate>("from");  // null: the first baselineRuns runs are the baseline
    QTest::addColumn<QDate>("to");
    QTest::addColumn<QList<int>>("runs");  // the runs of ChartValues charted, oldest first
    QTest::addColumn<int>("baseline");
    QTest::addColumn<double>("mean");
    QTest::addColumn<QList<int>>("beyond");
    QTest::addColumn<double>("newestBandPct");  // the band the newest run recorded; -1: none, the bench's 10 % then
    QTest::addColumn<int>("baselineRuns");
    const QDate first;
    QList<int> all, odd;
    for (int i = 0; i < ChartRuns; ++i) {
        all << i;
        if (i % 2) odd << i;
    }
    QTest::newRow("every bench") << "7212B" << "" << 100 << first << first << all << 20 << 37.010 << QList<int>{5, 7} << -1.0 << 20;
    QTest::newRow("the band the newest run was held to") << "7212B" << "" << 100 << first << first << all << 20 << 37.010
                                                         << QList<int>{5, 7} << 5.0 << 20;
    QTest::newRow("the newest run was not checked") << "7212B" << "" << 100 << first << first << all << 20 << 37.010
                                                    << QList<int>{5, 7} << 0.0 << 20;
    QTest::newRow("the newest three") << "7212B" << "" << 3 << first << first << QList<int>{21, 22, 23} << 20 << 37.010 << QList<int>{}
                                      << -1.0 << 20;
    // Fewer than 20 runs tell a mean and a σ, and draw no limits.
    QTest::newRow("a baseline of four runs") << "7212B" << "" << 100 << first << first << all << 4 << 37.010 << QList<int>{} << -1.0 << 4;
    QTest::newRow("one bench, its own baseline") << "7212B" << "bench-2" << 100 << first << first << odd << 12 << 37.010083333333334
                                                 << QList<int>{} << -1.0 << 20;
    QTest::newRow("baseline of days, both included") << "7212B" << "" << 100 << QDate(2026, 4, 1) << QDate(2026, 4, 2) << all << 2
                                                    << 37.011 << QList<int>{} << -1.0 << 20;
    QTest::newRow("a model without runs") << "7213B" << "" << 100 << first << first << QList<int>{} << 0 << 0.0 << QList<int>{} << -1.0 << 20;
}

void TestResultsQuery::controlChart()
{
    QFETCH(QString, model);
    QFETCH(QString, bench);
    QFETCH(int, lastRuns);
    QFETCH(QDate, from);
    QFETCH(QDate, to);
    QFETCH(QList<int>, runs);
    QFETCH(int, baseline);
    QFETCH(double, mean);
    QFETCH(QList<int>, beyond);
    QFETCH(double, newestBandPct);
    QFETCH(int, baselineRuns);
    QSqlQuery band(chartDb_.database());
    const QString newest = QStringLiteral("UPDATE TestResult SET plausibility_pct = ? WHERE id = (SELECT id FROM TestResult WHERE model = '7212B'"
                                          " AND result = 'finished' ORDER BY started_ms DESC, id DESC LIMIT 1)");
    QVERIFY(band.prepare(newest));
    band.addBindValue(newestBandPct < 0 ? QVariant(QMetaType(QMetaType::Double)) : QVariant(newestBandPct));
    QVERIFY(band.exec());
    ChartRequest request{model, 4, bench, lastRuns, {}, 0.10};
    request.baseline.runs = baselineRuns;
    if (from.isValid()) request.baseline = {ChartBaseline::Kind::Days, 0, from, to};
    ControlChartData data;
    QString error;
    QVERIFY2(LoadControlChart(chartDb_.database(), request, &data, &error), qPrintable(error));
    QList<double> values, expected;
    QList<int> marked;
    for (const ChartSample& s : data.samples) {
        if (s.beyondLimits) marked << runs[values.size()];
        values << s.value;
    }
    for (int i : runs) expected << ChartValues[i];
    QCOMPARE(values, expected);
    QCOMPARE(marked, beyond);
    QCOMPARE(data.beyond, beyond.size());
    QCOMPARE(data.limits.count, baseline);
    if (baseline > 1) QVERIFY2(std::fabs(data.limits.mean - mean) < 1e-9, qPrintable(QString::number(data.limits.mean, 'g', 12)));
    QCOMPARE(data.limits.valid(), baseline >= 20);
    // The level is the point table's: 37.0 V for this model; the band the one the runs were held
    // to, the bench's 10 % either side for runs that recorded none.
    QCOMPARE(data.nominal, model == QLatin1String("7212B") ? 37.0 : 73.0);
    // A chart is first shown of the model calibrated last, not of the first of the list.
    QStringList models;
    QString newestModel;
    QVERIFY(ChartModels(chartDb_.database(), &models, &error) && NewestChartModel(chartDb_.database(), &newestModel, &error));
    QCOMPARE(models.value(0), QStringLiteral("7211B"));
    QCOMPARE(newestModel, QStringLiteral("7212B"));
    const double share = newestBandPct < 0 || model != QLatin1String("7212B") ? 0.10 : newestBandPct / 100.0;
    QCOMPARE(data.band.bounded, share > 0);
    if (share > 0)
        QVERIFY(std::fabs(data.band.low - (1 - share) * data.nominal) < 1e-6 && std::fabs(data.band.high - (1 + share) * data.nominal) < 1e-6);
}

void TestResultsQuery::chartBaseline_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("runs");
    QTest::newRow("no file") << QByteArray() << int(ChartBaseline::Kind::FirstRuns) << 30;
    QTest::newRow("first runs") << QByteArray("[Chart]\nBaseline=runs\nBaselineRuns=50\n") << int(ChartBaseline::Kind::FirstRuns) << 50;
    QTest::newRow("days") << QByteArray("[chart]\nBaseline=Days\nBaselineFrom=2026-04-01\nBaselineTo=2026-04-09\n") << int(ChartBaseline::Kind::Days) << 30;
    QTest::newRow("days reversed") << QByteArray("[Chart]\nBaseline=days\nBaselineFrom=2026-04-09\nBaselineTo=2026-04-01\n")
                                   << int(ChartBaseline::Kind::FirstRuns) << 30;
    QTest::newRow("one run is no baseline") << QByteArray("[Chart]\nBaselineRuns=1\n") << int(ChartBaseline::Kind::FirstRuns) << 30;
}

void TestResultsQuery::chartBaseline()
{
    QFETCH(QByteArray, ini);
    QFETCH(int, kind);
    QFETCH(int, runs);
    const QString path = dir_.filePath(QStringLiteral("Config-%1.Ini").arg(QTest::currentDataTag()));
    if (!ini.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(ini) == ini.size());
    }
    const ChartBaseline b = LoadChartBaseline(path);
    QCOMPARE(int(b.kind), kind);
    QCOMPARE(b.runs, runs);
    // What is written is read back as it was.
    SaveChartBaseline(b, path);
    QVERIFY(LoadChartBaseline(path) == b);
}

QTEST_GUILESS_MAIN(TestResultsQuery)
#include "tst_ResultsQuery.moc"
