// Serial numbers from the line's counter row, taken in one transaction.
#include "SerialAllocator.h"

#include "CalList.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>

SerialAllocator::SerialAllocator(LineSettings settings, std::function<QString()> runUid)
    : settings_(std::move(settings)), runUid_(std::move(runUid))
{
}

SerialSource::Grant SerialAllocator::Allocate(const TRunState& state)
{
    Grant grant;
    if (!settings_.problem.isEmpty()) {
        grant.refusal = settings_.problem;
        return grant;
    }
    // A connection the server dropped since the last supply (a restart, say) fails at its first
    // use: then one fresh connection is tried before the supply is refused.
    const bool wasOpen = db_.isOpen();
    for (int attempt = wasOpen ? 0 : 1; attempt < 2; ++attempt) {
        if (!db_.isOpen() && !db_.openServer(settings_.server, ResultsDb::Mode::Record)) {
            grant.refusal = db_.errorText();
            return grant;
        }
        if (TryAllocate(state, &grant.serial, &grant.refusal)) return grant;
        grant.serial = 0;
        db_.close();
    }
    return grant;
}

bool SerialAllocator::TryAllocate(const TRunState& state, std::uint32_t* serial, QString* error)
{
    QSqlDatabase db = db_.database();
    auto fail = [&](const QSqlError& e) {
        *error = QStringLiteral("the line's database %1: %2").arg(db_.path(), e.text().trimmed());
        if (db.isOpen()) db.rollback();
        return false;
    };
    if (!db.transaction()) return fail(db.lastError());
    QSqlQuery q(db);
    q.prepare(QStringLiteral("UPDATE SerialCounter SET next_serial = GREATEST(next_serial, ?) WHERE id = 1"));
    q.addBindValue(static_cast<qint64>(state.FUnitCounter));
    if (!q.exec()) return fail(q.lastError());
    if (!q.exec(QStringLiteral("UPDATE SerialCounter SET next_serial = next_serial + 1 WHERE id = 1 RETURNING next_serial - 1")))
        return fail(q.lastError());
    if (!q.next()) {
        *error = QStringLiteral("the line's database %1 has no serial counter").arg(db_.path());
        if (db.isOpen()) db.rollback();
        return false;
    }
    const qint64 taken = q.value(0).toLongLong();
    if (!IsWritableSerial(taken)) {
        *error = QStringLiteral("the line's serial numbers are used up (the next would be %1)").arg(taken);
        if (db.isOpen()) db.rollback();
        return false;
    }
    q.prepare(QStringLiteral("INSERT INTO SerialAllocation (serial, bench, run_uid, allocated_at, state) VALUES (?, ?, ?, ?, 'allocated')"));
    q.addBindValue(taken);
    q.addBindValue(settings_.bench);
    q.addBindValue(runUid_ ? runUid_() : QString());
    q.addBindValue(IsoTime(QDateTime::currentDateTime()));
    if (!q.exec()) return fail(q.lastError());
    if (!db.commit()) return fail(db.lastError());
    *serial = static_cast<std::uint32_t>(taken);
    return true;
}
