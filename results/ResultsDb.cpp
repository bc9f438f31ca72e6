// The results database "PowerTestDb": one SQLite file, its schema and how it is opened.
#include "ResultsDb.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <functional>
#include <vector>

namespace {

// Each entry brings a database of version n (its index) to version n + 1; version 0 is an empty
// file. Entries are only ever appended: a file made by any earlier program migrates step by step.
const std::vector<std::vector<const char*>> Migrations{
        {
            "CREATE TABLE SchemaVersion (version INTEGER NOT NULL)",
            "CREATE TABLE TestResult ("
            " id INTEGER PRIMARY KEY AUTOINCREMENT,"
            " kind TEXT NOT NULL,"
            " started_at TEXT NOT NULL,"
            " started_ms INTEGER NOT NULL,"
            " ended_at TEXT,"
            " ended_ms INTEGER,"
            " result TEXT NOT NULL,"
            " serial_read TEXT,"
            " serial_written TEXT,"
            " model TEXT,"
            " address INTEGER,"
            " port TEXT,"
            " baud INTEGER,"
            " test_code TEXT,"
            " date_written TEXT,"
            " operator TEXT,"
            " temperature TEXT,"
            " humidity TEXT,"
            " bench TEXT,"
            " program_version TEXT,"
            " unit_counter_before INTEGER,"
            " unit_counter_after INTEGER,"
            " event_log TEXT NOT NULL DEFAULT '')",
            "CREATE INDEX TestResult_started ON TestResult (started_ms)",
            "CREATE INDEX TestResult_serial_written ON TestResult (serial_written)",
            "CREATE INDEX TestResult_serial_read ON TestResult (serial_read)",
            "CREATE TABLE TestReading ("
            " run_id INTEGER NOT NULL REFERENCES TestResult (id),"
            " point INTEGER NOT NULL,"
            " quantity TEXT NOT NULL,"
            " nominal TEXT,"
            " typed TEXT,"
            " value_sent INTEGER,"
            " PRIMARY KEY (run_id, point))",
            "CREATE TABLE TestStep ("
            " run_id INTEGER NOT NULL REFERENCES TestResult (id),"
            " step INTEGER NOT NULL,"
            " state TEXT,"
            " sends INTEGER NOT NULL DEFAULT 0,"
            " at TEXT,"
            " PRIMARY KEY (run_id, step))",
            "INSERT INTO SchemaVersion (version) VALUES (0)",
        },
        // 1 -> 2: whether a reading was the meter's or typed.
        {
            "ALTER TABLE TestReading ADD COLUMN source TEXT NOT NULL DEFAULT 'typed'",
        },
};

}  // namespace

ResultsDb::ResultsDb() : connection_(QStringLiteral("results-") + QUuid::createUuid().toString(QUuid::WithoutBraces)) {}

ResultsDb::~ResultsDb() { close(); }

bool ResultsDb::IsCorruption(const QString& nativeErrorCode)
{
    // SQLITE_CORRUPT and SQLITE_NOTADB.
    return nativeErrorCode == QLatin1String("11") || nativeErrorCode == QLatin1String("26");
}

QString ResultsDb::MoveAside(const QString& path)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    const QString aside = QStringLiteral("%1.corrupt-%2").arg(path, stamp);
    if (!QFile::rename(path, aside)) return QString();
    for (const char* companion : {"-wal", "-shm"}) {
        const QString from = path + QLatin1String(companion);
        if (QFile::exists(from)) QFile::rename(from, aside + QLatin1String(companion));
    }
    return aside;
}

void ResultsDb::close()
{
    if (QSqlDatabase::contains(connection_)) {
        {
            QSqlDatabase db = QSqlDatabase::database(connection_, false);
            if (db.isOpen()) db.close();
        }
        QSqlDatabase::removeDatabase(connection_);
    }
}

bool ResultsDb::isOpen() const
{
    return QSqlDatabase::contains(connection_) && QSqlDatabase::database(connection_, false).isOpen();
}

QSqlDatabase ResultsDb::database() const { return QSqlDatabase::database(connection_, false); }

bool ResultsDb::open(const QString& path, Mode mode)
{
    close();
    path_ = path;
    error_.clear();
    movedAside_.clear();
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
        error_ = QStringLiteral("the SQLite driver of Qt is not installed (libqt6sql6-sqlite)");
        return false;
    }
    if (mode == Mode::Read && !QFileInfo::exists(path)) {
        error_ = QStringLiteral("no results database at %1").arg(path);
        return false;
    }
    // The connection is dropped only here, once no query of a failed attempt is left holding it.
    if (openConnection(mode)) return true;
    close();
    if (mode == Mode::Read || !damaged_ || !QFileInfo::exists(path)) return false;
    // Damaged: kept aside for whoever wants to look at it, and a new file started.
    const QString reason = error_;
    movedAside_ = MoveAside(path);
    if (movedAside_.isEmpty()) {
        error_ = QStringLiteral("%1, and it could not be moved aside").arg(reason);
        return false;
    }
    if (openConnection(mode)) return true;
    close();
    error_ = QStringLiteral("%1 (the damaged file was moved to %2)").arg(error_, movedAside_);
    return false;
}

bool ResultsDb::openConnection(Mode mode)
{
    close();
    damaged_ = false;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db.setDatabaseName(path_);
    // A writer never waits long for a lock: the run it records must not be slowed.
    db.setConnectOptions(mode == Mode::Read ? QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=1000")
                                            : QStringLiteral("QSQLITE_BUSY_TIMEOUT=50"));
    if (!db.open()) {
        error_ = QStringLiteral("%1 cannot be opened: %2").arg(path_, db.lastError().text());
        return false;
    }
    auto fail = [this](const QSqlQuery& q) {
        const QSqlError e = q.lastError();
        damaged_ = IsCorruption(e.nativeErrorCode());
        error_ = damaged_ ? QStringLiteral("%1 is damaged: %2").arg(path_, e.text())
                                                   : QStringLiteral("%1: %2").arg(path_, e.text());
        return false;
    };
    QSqlQuery q(db);
    if (mode == Mode::Record) {
        // Each change survives a crash or a power loss once its transaction has committed.
        if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !q.next()) return fail(q);
        if (q.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
            error_ = QStringLiteral("%1 cannot be written (journal mode %2)").arg(path_, q.value(0).toString());
            return false;
        }
        if (!q.exec(QStringLiteral("PRAGMA synchronous=FULL"))) return fail(q);
        // A bench runs for weeks: the page cache stays small (256 KiB) instead of growing with
        // the file to SQLite's default 2 MiB. A run touches a few pages only.
        if (!q.exec(QStringLiteral("PRAGMA cache_size=-256"))) return fail(q);
    }
    if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")) || !q.next()) return fail(q);

    int version = 0;
    if (!readVersion(&version)) return false;
    if (version > SchemaVersionNow) {
        error_ = QStringLiteral("%1 was made by a newer program (schema %2, this one knows %3)")
                     .arg(path_)
                     .arg(version)
                     .arg(SchemaVersionNow);
        return false;
    }
    if (version < SchemaVersionNow) {
        if (mode == Mode::Read) {
            error_ = QStringLiteral("%1 holds no results yet").arg(path_);
            if (version > 0) error_ = QStringLiteral("%1 has an older schema (%2); open it once with the calibrator").arg(path_).arg(version);
            return false;
        }
        if (!prepareSchema()) return false;
    }
    return true;
}

bool ResultsDb::readVersion(int* version)
{
    QSqlDatabase db = database();
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'SchemaVersion'")) ||
        !q.next()) {
        damaged_ = IsCorruption(q.lastError().nativeErrorCode());
        error_ = QStringLiteral("%1: %2").arg(path_, q.lastError().text());
        return false;
    }
    *version = 0;
    if (q.value(0).toInt() == 0) return true;
    if (!q.exec(QStringLiteral("SELECT max(version) FROM SchemaVersion")) || !q.next()) {
        damaged_ = IsCorruption(q.lastError().nativeErrorCode());
        error_ = QStringLiteral("%1: %2").arg(path_, q.lastError().text());
        return false;
    }
    *version = q.value(0).toInt();
    return true;
}

bool ResultsDb::prepareSchema()
{
    QSqlDatabase db = database();
    int version = 0;
    if (!readVersion(&version)) return false;
    const auto& steps = Migrations;
    while (version < SchemaVersionNow) {
        if (!db.transaction()) {
            error_ = QStringLiteral("%1 cannot be written: %2").arg(path_, db.lastError().text());
            return false;
        }
        QSqlQuery q(db);
        for (const char* sql : steps[static_cast<std::size_t>(version)]) {
            if (!q.exec(QString::fromLatin1(sql))) {
                error_ = QStringLiteral("%1 cannot be written: %2").arg(path_, q.lastError().text());
                db.rollback();
                return false;
            }
        }
        q.prepare(QStringLiteral("UPDATE SchemaVersion SET version = ?"));
        q.addBindValue(version + 1);
        if (!q.exec() || !db.commit()) {
            error_ = QStringLiteral("%1 cannot be written: %2").arg(path_, q.lastError().text());
            db.rollback();
            return false;
        }
        ++version;
    }
    return true;
}
