// Prints what the results record costs: the time to record one step of a calibration (each change
// is its own transaction, handed to the system), a run's start and end (each waits for the disk),
// and the results window's filter by serial number on 100,000 runs. Figures only; nothing here
// passes or fails.
#include "CalList.h"
#include "QtClock.h"
#include "QtSerialControl.h"
#include "ResultsDb.h"
#include "ResultsQuery.h"
#include "ResultsRecord.h"
#include "RunEngine.h"
#include "SerialLink.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

namespace {

// A window that shows nothing: the record only listens to the engine.
class NoWindow : public RunView {
public:
    void Notice(const QString&) override {}
    void Warning(const QString&) override {}
    void Error(const QString&) override {}
    void Information(const QString&) override {}
    void Question(const QString&, Answered then) override { then(BoxAnswer::Yes); }
    void WarningQuestion(const QString&, Answered then) override { then(BoxAnswer::Yes); }
    void SetStallLine(const QString&) override {}
    void SetStepState(int, StepOutcome) override {}
    void UpdateProgress() override {}
    void AddLogLine(const QString&) override {}
    void ClearLog() override {}
    void FillMsgList() override {}
    void ClearMsgListStates() override {}
    void InitStepGrid(bool) override {}
    void ShowStepText(const QString&) override {}
    void ShowResultLabel(const QString&) override {}
    void ClearResultLabel() override {}
    void SetStatusPanel(int, const QString&) override {}
    void SetProgressLine(const QString&) override {}
    void SetProgressBar(int) override {}
    void SetSerialBox(const QString&) override {}
    void SetButtonEnabled(ToolButton, bool) override {}
    bool ButtonEnabled(ToolButton) const override { return true; }
};

struct Figures {
    std::vector<double> us;
    double at(double share)
    {
        std::sort(us.begin(), us.end());
        return us[std::min(us.size() - 1, static_cast<std::size_t>(share * static_cast<double>(us.size())))];
    }
    double mean() const
    {
        double sum = 0;
        for (double v : us) sum += v;
        return sum / static_cast<double>(us.size());
    }
};

void RecordingCost(const QString& folder)
{
    QtClock clock;
    QtSerialControl comm([](int) { return QString(); });
    SerialLink link(comm, clock);
    NoWindow window;
    RunEngine engine(link, clock, window);
    const QString path = QDir(folder).filePath(QStringLiteral("PowerTestDb.sqlite"));
    ResultsRecord record(engine, path, RecordContext{QStringLiteral("bench"), QStringLiteral("1.1.0.19")});
    if (!record.Open()) {
        std::printf("recording: %s cannot be opened\n", qPrintable(path));
        return;
    }
    // The record is told of a run as the engine would tell it; the state it is shown is built here.
    TRunState s;
    s.FModel = 1;
    s.FStartTime = clock.now();
    BuildCalList(s, QDate::currentDate());

    constexpr int Runs = 20;
    Figures step, reading, start, end;
    for (int run = 0; run < Runs; ++run) {
        QElapsedTimer whole;
        whole.start();
        record.RunStarted(RunKind::Calibration, s);
        start.us.push_back(static_cast<double>(whole.nsecsElapsed()) / 1000.0);
        for (int n = 1; n <= CalStepCount; ++n) {
            const TEvent& e = s.FCalList[static_cast<std::size_t>(n - 1)];
            // What a step brings before its outcome: the frame, its log line, the answer's line.
            if (!e.MeterStep) {
                record.FrameSent(n, e.Frame);
                record.LogLine(QStringLiteral("[Step %1] : %2").arg(n).arg(FrameToHex(e.Frame)));
                record.LogLine(QStringLiteral("Rece : ") + FrameToHex(e.Frame));
            }
            QElapsedTimer t;
            t.start();
            record.StepState(n, StepOutcome::Succeed);
            step.us.push_back(static_cast<double>(t.nsecsElapsed()) / 1000.0);
            if (e.MeterStep) {
                t.restart();
                record.ReadingAccepted(n, QStringLiteral("3.999"), 3999, ReadingSource::Meter, {});
                reading.us.push_back(static_cast<double>(t.nsecsElapsed()) / 1000.0);
            }
        }
        whole.restart();
        record.RunEnded(RunKind::Calibration, RunEnd::Finished, s);
        end.us.push_back(static_cast<double>(whole.nsecsElapsed()) / 1000.0);
    }
    std::printf("recording one step (own transaction, WAL, synchronous=NORMAL), %zu steps of %d runs:\n", step.us.size(), Runs);
    std::printf("  mean %.0f us   median %.0f us   p95 %.0f us   max %.0f us   (target: under 1000 us)\n", step.mean(),
                step.at(0.5), step.at(0.95), step.at(1.0));
    std::printf("recording one reading, %zu readings: mean %.0f us   median %.0f us   p95 %.0f us\n", reading.us.size(),
                reading.mean(), reading.at(0.5), reading.at(0.95));
    std::printf("a run's start and end (synchronous=FULL), %d runs: start median %.0f us, max %.0f us;"
                " end median %.0f us, max %.0f us\n",
                Runs, start.at(0.5), start.at(1.0), end.at(0.5), end.at(1.0));
}

void FilterCost(const QString& folder)
{
    constexpr int Runs = 100000;
    const QString path = QDir(folder).filePath(QStringLiteral("Many.sqlite"));
    {
        ResultsDb db;
        if (!db.open(path, ResultsDb::Mode::Record)) {
            std::printf("filter: %s\n", qPrintable(db.errorText()));
            return;
        }
        QSqlDatabase d = db.database();
        std::mt19937 rng(11);
        const QStringList results = RunResults();
        QElapsedTimer t;
        t.start();
        d.transaction();
        QSqlQuery q(d);
        q.prepare(QStringLiteral("INSERT INTO TestResult (kind, started_at, started_ms, ended_at, ended_ms, result,"
                                 " serial_read, serial_written, model, operator, event_log) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        const qint64 first = QDateTime(QDate(2024, 1, 1), QTime(7, 0)).toMSecsSinceEpoch();
        for (int i = 0; i < Runs; ++i) {
            const qint64 started = first + static_cast<qint64>(i) * 600000;  // one every ten minutes
            const QString serial = QStringLiteral("%1").arg(rng() % 1000000, 6, 10, QLatin1Char('0'));
            q.addBindValue(QStringLiteral("calibration"));
            q.addBindValue(QDateTime::fromMSecsSinceEpoch(started).toString(Qt::ISODate));
            q.addBindValue(started);
            q.addBindValue(QDateTime::fromMSecsSinceEpoch(started + 95000).toString(Qt::ISODate));
            q.addBindValue(started + 95000);
            q.addBindValue(results[static_cast<int>(rng() % 4)]);
            q.addBindValue(i % 3 == 0 ? QVariant(serial) : QVariant(QMetaType(QMetaType::QString)));
            q.addBindValue(serial);
            q.addBindValue(QStringLiteral("7212B"));
            q.addBindValue(QStringLiteral("Anna"));
            q.addBindValue(QStringLiteral("[Step 1] : AA 00 82 03 ..."));
            if (!q.exec()) {
                std::printf("filter: %s\n", qPrintable(q.lastError().text()));
                return;
            }
        }
        d.commit();
        std::printf("generated %d runs in %.1f s\n", Runs, static_cast<double>(t.elapsed()) / 1000.0);
    }

    ResultsDb db;
    if (!db.open(path, ResultsDb::Mode::Read)) return;
    for (const QString& serial : {QStringLiteral("4711"), QStringLiteral("12"), QStringLiteral("000042")}) {
        RunFilter filter;
        filter.serial = serial;
        Figures all, shown;
        std::size_t matches = 0;
        for (int repeat = 0; repeat < 5; ++repeat) {
            QElapsedTimer t;
            t.start();
            std::vector<RunSummary> runs;
            QString error;
            ListRuns(db.database(), filter, &runs, &error);
            all.us.push_back(static_cast<double>(t.nsecsElapsed()) / 1000.0);
            matches = runs.size();

            // What the results window does: the query model fetches the first rows it shows.
            t.restart();
            QVariantList binds;
            QSqlQuery q(db.database());
            q.prepare(RunListSql(filter, &binds));
            for (const QVariant& v : binds) q.addBindValue(v);
            q.exec();
            QSqlQueryModel model;
            model.setQuery(std::move(q));
            (void)model.rowCount();
            shown.us.push_back(static_cast<double>(t.nsecsElapsed()) / 1000.0);
        }
        std::printf("filter by serial \"%s\" on %d runs: %zu matches; window's first page median %.1f ms, all matches"
                    " listed median %.1f ms   (target: under 200 ms)\n",
                    qPrintable(serial), Runs, matches, shown.at(0.5) / 1000.0, all.at(0.5) / 1000.0);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // On the disk, as the bench keeps its database: a memory file system would hide the syncs.
    QTemporaryDir dir(QDir::current().filePath(QStringLiteral("bench-results-XXXXXX")));
    if (!dir.isValid()) return 1;
    RecordingCost(dir.path());
    FilterCost(dir.path());
    return 0;
}
