// The crash-safety probe: `run <dir>` saves the unit counter into <dir>/Config.Ini and commits a
// run into the results database, one after the other, for ever, saying each that has landed;
// `check <dir> <saved> <committed>` says whether what a kill left behind is sound.
#include "ConfigFile.h"
#include "FakeClock.h"
#include "IniFile.h"
#include "ResultsDb.h"

#include <QCoreApplication>
#include <QDir>
#include <QSqlQuery>

#include <cstdio>

namespace {

qint64 Rows(const ResultsDb& db)
{
    QSqlQuery q(db.database());
    return q.exec(QStringLiteral("SELECT count(*) FROM TestResult")) && q.next() ? q.value(0).toLongLong() : -1;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) return 2;
    const QDir dir(args[2]);
    const QString ini = dir.filePath(QStringLiteral("Config.Ini"));
    const QString dbPath = dir.filePath(QStringLiteral("PowerTestDb.sqlite"));

    if (args[1] == QLatin1String("run")) {
        TRunState state;
        FakeClock clock;
        auto timer = clock.createTimer();
        const StoredConfig stored = ReadConfig(ini);
        state.FUnitCounter = stored.unitCounter;
        timer->setInterval(stored.readIntervalMs);
        ResultsDb db;
        if (!db.open(dbPath, ResultsDb::Mode::Record)) return 3;
        qint64 committed = Rows(db);
        for (;;) {
            ++state.FUnitCounter;
            SaveConfig(state, ini);
            std::printf("SAVED %d\n", state.FUnitCounter);
            std::fflush(stdout);
            QSqlDatabase d = db.database();
            d.transaction();
            QSqlQuery q(d);
            q.prepare(QStringLiteral("INSERT INTO TestResult (kind, started_at, started_ms, result, event_log) VALUES ('calibration', 'x', ?, 'finished', ?)"));
            q.addBindValue(++committed);
            q.addBindValue(QString(2000, QLatin1Char('x')));
            if (!q.exec() || !d.commit()) return 4;
            std::printf("COMMITTED %lld\n", committed);
            std::fflush(stdout);
        }
    }

    // check: the counter is the last one saved or the one being saved; the database is whole and
    // holds every run that was committed, and at most the one being committed besides.
    if (args.size() < 5) return 2;
    const int saved = args[3].toInt();
    const qint64 committed = args[4].toLongLong();
    bool ok = false;
    const int counter = IniFile(ini).ReadString(QStringLiteral("Config"), QStringLiteral("PowerID"), QString()).toInt(&ok);
    if (!ok || (counter != saved && counter != saved + 1)) {
        std::printf("BAD counter %d after %d saved\n", counter, saved);
        return 1;
    }
    ResultsDb db;
    if (!db.open(dbPath, ResultsDb::Mode::Record)) {
        std::printf("BAD database: %s\n", qPrintable(db.errorText()));
        return 1;
    }
    QSqlQuery q(db.database());
    if (!q.exec(QStringLiteral("PRAGMA integrity_check")) || !q.next() || q.value(0).toString() != QLatin1String("ok")) {
        std::printf("BAD integrity\n");
        return 1;
    }
    const qint64 rows = Rows(db);
    if (rows < committed || rows > committed + 1) {
        std::printf("BAD %lld runs after %lld committed\n", rows, committed);
        return 1;
    }
    std::printf("OK counter %d runs %lld\n", counter, rows);
    return 0;
}
