// The bench's queue of runs for the line: read from the local file, written to the server in one
// transaction per run, keyed by the run's own name so that a run sent twice arrives once.
#include "LineSync.h"

#include "ReadingSummary.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QMutexLocker>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>

#include <climits>

namespace {

QString Placeholders(int n)
{
    QStringList marks;
    for (int i = 0; i < n; ++i) marks << QStringLiteral("?");
    return marks.join(QStringLiteral(", "));
}

}  // namespace

LineSync::LineSync(LineSettings settings, QString localPath)
    : settings_(std::move(settings)), localPath_(std::move(localPath))
{
}

bool LineSync::OpenBoth(QString* error)
{
    if (!settings_.problem.isEmpty()) {
        *error = settings_.problem;
        return false;
    }
    if (!local_.isOpen() && !local_.open(localPath_, ResultsDb::Mode::Record)) {
        *error = local_.errorText();
        return false;
    }
    if (!server_.isOpen() && !server_.openServer(settings_.server, ResultsDb::Mode::Record)) {
        *error = server_.errorText();
        return false;
    }
    return true;
}

int LineSync::Queued(QString* error)
{
    if (!local_.isOpen() && !local_.open(localPath_, ResultsDb::Mode::Record)) {
        *error = local_.errorText();
        return -1;
    }
    QSqlQuery q(local_.database());
    if (!q.exec(QStringLiteral("SELECT count(*) FROM LineQueue WHERE sent_at IS NULL")) || !q.next()) {
        *error = q.lastError().text();
        return -1;
    }
    return q.value(0).toInt();
}

int LineSync::SendQueued(QString* error, const std::function<bool()>& stop)
{
    if (!OpenBoth(error)) return -1;
    QSqlQuery q(local_.database());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT run_id FROM LineQueue WHERE sent_at IS NULL ORDER BY run_id"))) {
        *error = QStringLiteral("%1: %2").arg(localPath_, q.lastError().text());
        return -1;
    }
    std::vector<qint64> ids;
    while (q.next()) ids.push_back(q.value(0).toLongLong());
    q.finish();
    int sent = 0;
    for (qint64 id : ids) {
        if (stop && stop()) break;
        if (!SendRun(id, error)) {
            // Whatever state the connection is in, the next pass starts on a fresh one.
            server_.close();
            return -1;
        }
        ++sent;
    }
    return sent;
}

bool LineSync::SendRun(qint64 localId, QString* error)
{
    QSqlDatabase local = local_.database();
    QSqlDatabase server = server_.database();
    auto localFault = [&](const QSqlQuery& q) {
        *error = QStringLiteral("%1: %2").arg(localPath_, q.lastError().text());
        return false;
    };
    auto serverFault = [&](const QSqlError& e) {
        *error = QStringLiteral("the line's database %1: %2").arg(server_.path(), e.text().trimmed());
        if (server.isOpen()) server.rollback();
        return false;
    };

    // A run recorded before this bench knew of names gets one now, kept in the file.
    QSqlQuery name(local);
    name.prepare(QStringLiteral("UPDATE TestResult SET run_uid = ? WHERE id = ? AND run_uid IS NULL"));
    name.addBindValue(QUuid::createUuid().toString(QUuid::WithoutBraces));
    name.addBindValue(localId);
    if (!name.exec()) return localFault(name);

    QSqlQuery run(local);
    run.prepare(QStringLiteral("SELECT ") + RunColumns().join(QStringLiteral(", ")) + QStringLiteral(" FROM TestResult WHERE id = ?"));
    run.addBindValue(localId);
    if (!run.exec()) return localFault(run);
    if (!run.next()) {
        // Queued but gone from the file (moved aside as damaged): nothing to send.
        QSqlQuery done(local);
        done.prepare(QStringLiteral("UPDATE LineQueue SET sent_at = 'missing' WHERE run_id = ?"));
        done.addBindValue(localId);
        return done.exec() || localFault(done);
    }
    const QSqlRecord runRow = run.record();
    const QString uid = runRow.value(QStringLiteral("run_uid")).toString();
    run.finish();

    struct Row {
        QVariantList values;
    };
    auto readRows = [&](const QString& sql, std::vector<Row>* rows) {
        QSqlQuery r(local);
        r.prepare(sql);
        r.addBindValue(localId);
        if (!r.exec()) return localFault(r);
        while (r.next()) {
            Row row;
            for (int i = 0; i < r.record().count(); ++i) row.values << r.value(i);
            rows->push_back(row);
        }
        return true;
    };
    std::vector<Row> readings, steps;
    if (!readRows(QStringLiteral("SELECT %1 FROM TestReading WHERE run_id = ? ORDER BY point").arg(ReadingColumns().join(QStringLiteral(", "))), &readings) ||
        !readRows(QStringLiteral("SELECT step, state, sends, at FROM TestStep WHERE run_id = ? ORDER BY step"), &steps))
        return false;

    if (!server.transaction()) return serverFault(server.lastError());
    QSqlQuery q(server);
    // A statement the server would not prepare (a table another session holds past the limit)
    // is reported as such, not run again as an empty one.
    if (!q.prepare(QStringLiteral("INSERT INTO TestResult (") + RunColumns().join(QStringLiteral(", ")) + QStringLiteral(") VALUES (") +
                   Placeholders(static_cast<int>(RunColumns().size())) + QStringLiteral(") ON CONFLICT (run_uid) DO NOTHING RETURNING id")))
        return serverFault(q.lastError());
    for (const QString& column : RunColumns()) q.addBindValue(runRow.value(column));
    if (!q.exec()) return serverFault(q.lastError());
    // No row back: an earlier pass sent it and lost only the mark in the file.
    if (q.next()) {
        const qint64 id = q.value(0).toLongLong();
        q.finish();
        for (const Row& row : readings) {
            if (!q.prepare(QStringLiteral("INSERT INTO TestReading (run_id, %1) VALUES (?, %2)")
                               .arg(ReadingColumns().join(QStringLiteral(", ")), Placeholders(static_cast<int>(ReadingColumns().size())))))
                return serverFault(q.lastError());
            q.addBindValue(id);
            for (const QVariant& v : row.values) q.addBindValue(v);
            if (!q.exec()) return serverFault(q.lastError());
        }
        int serialSends = 0;
        for (const Row& row : steps) {
            if (row.values.value(0).toInt() == 25) serialSends = row.values.value(2).toInt();
            if (!q.prepare(QStringLiteral("INSERT INTO TestStep (run_id, step, state, sends, at) VALUES (?, ?, ?, ?, ?)"))) return serverFault(q.lastError());
            q.addBindValue(id);
            for (const QVariant& v : row.values) q.addBindValue(v);
            if (!q.exec()) return serverFault(q.lastError());
        }
        // The number this run took: written, sent without its answer, or never sent at all.
        const bool finished = runRow.value(QStringLiteral("result")).toString() == QLatin1String("finished");
        const QString fate = serialSends == 0 ? QStringLiteral("unused") : finished ? QStringLiteral("written") : QStringLiteral("sent");
        if (!q.prepare(QStringLiteral("UPDATE SerialAllocation SET state = ?, settled_at = ? WHERE run_uid = ? AND state = 'allocated'")))
            return serverFault(q.lastError());
        q.addBindValue(fate);
        q.addBindValue(IsoTime(QDateTime::currentDateTime()));
        q.addBindValue(uid);
        if (!q.exec()) return serverFault(q.lastError());
        // Into the line's statistics once, with the run itself.
        QString why;
        if (!AddToReadingSummary(server, id, &why)) return serverFault(QSqlError(why, QString(), QSqlError::StatementError));
    }
    if (!server.commit()) return serverFault(server.lastError());

    QSqlQuery done(local);
    done.prepare(QStringLiteral("UPDATE LineQueue SET sent_at = ? WHERE run_id = ?"));
    done.addBindValue(IsoTime(QDateTime::currentDateTime()));
    done.addBindValue(localId);
    return done.exec() || localFault(done);
}

LineUploader::LineUploader(LineSettings settings, QString localPath, Report report, QObject* owner)
    : settings_(std::move(settings)), localPath_(std::move(localPath)), report_(std::move(report)), owner_(owner)
{
}

LineUploader::~LineUploader()
{
    if (!Stop()) wait();
}

void LineUploader::Kick()
{
    QMutexLocker lock(&mutex_);
    kicked_ = true;
    wake_.wakeAll();
}

bool LineUploader::Stop(int limitMs)
{
    {
        QMutexLocker lock(&mutex_);
        stopping_ = true;
        report_ = {};
        owner_ = nullptr;
        wake_.wakeAll();
    }
    return wait(QDeadlineTimer(limitMs));
}

void LineUploader::run()
{
    LineSync sync(settings_, localPath_);
    bool troubled = false;
    bool waiting = false;
    auto tell = [this](const QString& text, bool trouble) {
        QMutexLocker lock(&mutex_);
        if (!report_ || !owner_) return;
        Report report = report_;
        QMetaObject::invokeMethod(owner_, [report, text, trouble] { report(text, trouble); }, Qt::QueuedConnection);
    };
    auto stopping = [this] {
        QMutexLocker lock(&mutex_);
        return stopping_;
    };
    for (;;) {
        {
            QMutexLocker lock(&mutex_);
            // Nothing to do until a run ends, unless runs are waiting for the server.
            if (!kicked_ && !stopping_) wake_.wait(&mutex_, waiting ? settings_.retryMs : ULONG_MAX);
            if (stopping_) return;
            kicked_ = false;
        }
        QString error;
        const int sent = sync.SendQueued(&error, stopping);
        if (sent < 0) {
            waiting = true;
            if (!troubled) tell(QStringLiteral("runs wait for the line's database: %1").arg(error), true);
            troubled = true;
            continue;
        }
        waiting = false;
        if (troubled) tell(QStringLiteral("the line's database has the waiting runs (%1 sent)").arg(sent), false);
        troubled = false;
    }
}
