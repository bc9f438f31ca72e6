// Serial numbers from the line's counter row, taken in one transaction on a thread of their own.
#include "SerialAllocator.h"

#include "CalList.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QMutex>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QWaitCondition>

#include <deque>

namespace {

QString SixDigits(qint64 n) { return QStringLiteral("%1").arg(n, 6, 10, QLatin1Char('0')); }

// The numbers from `from` on that the record `db` shows in a supply: taken from the line, written
// or read at step 3. The serial columns are six digits, so that their text orders as their number.
bool UsedFrom(const QSqlDatabase& db, qint64 from, bool server, QSet<qint64>* used, QString* error)
{
    const QString digits = server ? QStringLiteral("%1 ~ '^[0-9]{6}$'") : QStringLiteral("%1 GLOB '[0-9][0-9][0-9][0-9][0-9][0-9]'");
    QStringList parts;
    if (server) parts << QStringLiteral("SELECT serial FROM SerialAllocation WHERE serial >= ?");
    for (const QString& column : {QStringLiteral("serial_written"), QStringLiteral("serial_read")})
        parts << QStringLiteral("SELECT CAST(%1 AS BIGINT) FROM TestResult WHERE %1 >= ? AND ").arg(column) + digits.arg(column);
    QSqlQuery q(db);
    q.setForwardOnly(true);
    bool ran = q.prepare(parts.join(QStringLiteral(" UNION ")));
    if (server) q.addBindValue(from);
    q.addBindValue(SixDigits(from));
    q.addBindValue(SixDigits(from));
    if (!ran || !q.exec()) {
        *error = q.lastError().text().trimmed();
        return false;
    }
    while (q.next()) used->insert(q.value(0).toLongLong());
    return true;
}

}  // namespace

LineCounter::LineCounter(LineSettings settings, QString benchRecord)
    : settings_(std::move(settings)), benchRecord_(std::move(benchRecord))
{
}

SerialSource::Grant LineCounter::Take(std::int64_t unitCounter, const QString& runUid)
{
    SerialSource::Grant grant;
    if (!settings_.problem.isEmpty()) {
        grant.refusal = settings_.problem;
        return grant;
    }
    // A connection the server dropped since the last supply (a restart, say) fails at its first
    // use: then one fresh connection is tried before the supply is refused.
    for (int attempt = db_.isOpen() ? 0 : 1; attempt < 2; ++attempt) {
        if (!db_.isOpen() && !db_.openServer(settings_.server, ResultsDb::Mode::Record)) {
            grant.refusal = db_.errorText();
            return grant;
        }
        bool stale = false;
        if (TryTake(unitCounter, runUid, &grant, &stale)) return grant;
        grant.serial = 0;
        grant.notes.clear();
        db_.close();
        if (!stale) break;
    }
    return grant;
}

bool LineCounter::TryTake(std::int64_t unitCounter, const QString& runUid, SerialSource::Grant* grant, bool* stale)
{
    QSqlDatabase db = db_.database();
    auto fail = [&](const QString& text) {
        grant->refusal = QStringLiteral("the line's database %1: %2").arg(db_.path(), text);
        if (db.isOpen()) db.rollback();
        return false;
    };
    if (!db.transaction()) {
        *stale = true;
        return fail(db.lastError().text().trimmed());
    }
    // Prepared and run in one: a statement the server refuses to prepare (a table held too long by
    // another session) says so, instead of failing again as an empty one.
    QSqlQuery q(db);
    auto run = [&q](const QString& sql, const QVariantList& values) {
        if (!q.prepare(sql)) return false;
        for (const QVariant& v : values) q.addBindValue(v);
        return q.exec();
    };
    // The row lock taken here holds every other bench back until this number is recorded.
    if (!run(QStringLiteral("UPDATE SerialCounter SET next_serial = GREATEST(next_serial, ?) WHERE id = 1 RETURNING next_serial"),
             {static_cast<qint64>(unitCounter)}))
        return fail(q.lastError().text().trimmed());
    if (!q.next()) return fail(QStringLiteral("it has no serial counter"));
    const qint64 counter = q.value(0).toLongLong();
    q.finish();
    if (!IsWritableSerial(counter)) return fail(QStringLiteral("the line's serial numbers are used up (the next would be %1)").arg(counter));

    // A counter set back (by a restore of the server, say) stands below numbers already in
    // supplies; so may one that has not had this bench's last runs yet. Those are passed over.
    QSet<qint64> onLine, inOwn;
    QString why;
    if (!UsedFrom(db, counter, true, &onLine, &why)) return fail(why);
    if (!benchRecord_.isEmpty()) {
        if (!local_.isOpen() && !local_.open(benchRecord_, ResultsDb::Mode::Read))
            return fail(QStringLiteral("this bench's own record cannot be read to check the number: %1").arg(local_.errorText()));
        if (!UsedFrom(local_.database(), counter, false, &inOwn, &why)) {
            local_.close();
            return fail(QStringLiteral("this bench's own record %1 cannot be read to check the number: %2").arg(benchRecord_, why));
        }
    }
    qint64 taken = counter;
    int lineCount = 0;
    int ownCount = 0;
    for (; onLine.contains(taken) || inOwn.contains(taken); ++taken) {
        if (onLine.contains(taken))
            ++lineCount;
        else
            ++ownCount;
    }
    if (!IsWritableSerial(taken)) return fail(QStringLiteral("the line's serial numbers are used up (the next would be %1)").arg(taken));
    if (taken != counter) {
        const QString used = taken - 1 == counter ? QStringLiteral("it is") : QStringLiteral("%1 to %2 are").arg(SixDigits(counter), SixDigits(taken - 1));
        grant->notes << QStringLiteral("Line: the line's counter stood at %1, but %2 already used (%3 on the line's record, %4 in this"
                                       " bench's own only); %5 is given instead")
                            .arg(SixDigits(counter), used)
                            .arg(lineCount)
                            .arg(ownCount)
                            .arg(SixDigits(taken));
    }

    if (!run(QStringLiteral("UPDATE SerialCounter SET next_serial = ? WHERE id = 1"), {taken + 1}) ||
        !run(QStringLiteral("INSERT INTO SerialAllocation (serial, bench, run_uid, allocated_at, state) VALUES (?, ?, ?, ?, 'allocated')"),
             {taken, settings_.bench, runUid, IsoTime(QDateTime::currentDateTime())}))
        return fail(q.lastError().text().trimmed());
    if (!db.commit()) return fail(db.lastError().text().trimmed());
    grant->serial = static_cast<std::uint32_t>(taken);
    return true;
}

// One number after another, each as it was asked for; what it gives goes to `target`'s thread.
class SerialAllocator::Worker : public QThread {
public:
    struct Job {
        quint64 id = 0;
        std::int64_t unitCounter = 0;
        QString runUid;
        // The run has stopped waiting by then: a number taken later would go to no one.
        QDeadlineTimer deadline;
    };

    Worker(LineSettings settings, QString benchRecord, SerialAllocator* target)
        : settings_(std::move(settings)), benchRecord_(std::move(benchRecord)), target_(target)
    {
    }

    void Post(Job job)
    {
        QMutexLocker lock(&mutex_);
        jobs_.push_back(std::move(job));
        wake_.wakeAll();
    }

    // Nothing is given from now on. True once the thread has ended, within `limitMs`.
    bool Finish(int limitMs)
    {
        {
            QMutexLocker lock(&mutex_);
            stopping_ = true;
            target_ = nullptr;
            wake_.wakeAll();
        }
        return wait(QDeadlineTimer(limitMs));
    }

protected:
    void run() override
    {
        LineCounter counter(settings_, benchRecord_);
        for (;;) {
            Job job;
            {
                QMutexLocker lock(&mutex_);
                while (jobs_.empty() && !stopping_) wake_.wait(&mutex_);
                if (stopping_) return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            Grant grant;
            if (job.deadline.hasExpired())
                grant.refusal = QStringLiteral("the line's database was still busy with the supply before");
            else
                grant = counter.Take(job.unitCounter, job.runUid);
            QMutexLocker lock(&mutex_);
            if (!target_) continue;
            SerialAllocator* target = target_;
            QMetaObject::invokeMethod(&target->context_, [target, id = job.id, grant] { target->Deliver(id, grant); }, Qt::QueuedConnection);
        }
    }

private:
    const LineSettings settings_;
    const QString benchRecord_;
    QMutex mutex_;
    QWaitCondition wake_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    SerialAllocator* target_;
};

SerialAllocator::SerialAllocator(LineSettings settings, std::function<QString()> runUid, QString benchRecord)
    : settings_(std::move(settings)), runUid_(std::move(runUid)), worker_(new Worker(settings_, std::move(benchRecord), this))
{
    worker_->start();
}

SerialAllocator::~SerialAllocator()
{
    // A thread still in a call to the server ends with that call's own limits; it may not be
    // destroyed before, and it gives nothing to anyone any more.
    if (worker_->Finish(LineStopLimitMs)) delete worker_;
}

void SerialAllocator::Request(const TRunState& state, Answer answer)
{
    const quint64 id = ++lastId_;
    waiting_[id] = std::move(answer);
    worker_->Post({id, state.FUnitCounter, runUid_ ? runUid_() : QString(), QDeadlineTimer(LimitMs())});
}

int SerialAllocator::LimitMs() const { return settings_.server.connectTimeoutS * 1000 + settings_.server.statementTimeoutMs + 1000; }

void SerialAllocator::Deliver(quint64 id, const Grant& grant)
{
    const auto it = waiting_.find(id);
    if (it == waiting_.end()) return;
    const Answer answer = std::move(it->second);
    waiting_.erase(it);
    if (answer) answer(grant);
}
