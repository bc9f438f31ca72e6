// The results database "PowerTestDb": one SQLite file, its schema and how it is opened.
#include "ResultsDb.h"

#include "ReadingSummary.h"
#include "WholeFile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <vector>

namespace {

// A serial number as the search index holds it: between two characters no serial number holds.
// `server`: in PostgreSQL's words.
QString Wrapped(const QString& column, bool server = false)
{
    return QStringLiteral("%1(1) || %2 || %1(2)").arg(server ? QStringLiteral("chr") : QStringLiteral("char"), column);
}

// Into the list of pieces, those of the wrapped numbers that `numbers` selects as s, as far as six
// characters of a number go; a longer number gives the empty piece. In words both databases take.
QString PiecesOf(const QString& numbers)
{
    return QStringLiteral("INSERT INTO SerialPiece (piece)"
                          " SELECT CASE WHEN length(s) > 8 THEN '' ELSE lower(substr(s, i, 3)) END FROM (%1) AS w,"
                          " (SELECT 1 AS i UNION ALL SELECT 2 UNION ALL SELECT 3 UNION ALL SELECT 4 UNION ALL SELECT 5 UNION ALL SELECT 6) AS n"
                          " WHERE s IS NOT NULL AND i + 2 <= length(s) ON CONFLICT DO NOTHING")
        .arg(numbers);
}

// The pieces of the row a trigger was given.
QString NewPieces(bool server = false)
{
    return PiecesOf(QStringLiteral("SELECT %1 AS s UNION ALL SELECT %2")
                        .arg(Wrapped(QStringLiteral("new.serial_written"), server), Wrapped(QStringLiteral("new.serial_read"), server))) +
           QLatin1Char(';');
}

// The pieces of every run there is.
QString AllPieces(bool server = false)
{
    return PiecesOf(QStringLiteral("SELECT %1 AS s FROM TestResult UNION SELECT %2 FROM TestResult")
                        .arg(Wrapped(QStringLiteral("serial_written"), server), Wrapped(QStringLiteral("serial_read"), server)));
}

// A run's serial numbers into the index, or out of it (`command` 'delete').
QString IndexSerials(const char* row, const char* command = nullptr)
{
    const QString name = QLatin1String(row);
    return QStringLiteral("INSERT INTO SerialSearch (%1rowid, serial_written, serial_read) VALUES (%2%3.id, %4, %5);")
        .arg(command ? QStringLiteral("SerialSearch, ") : QString(),
             command ? QStringLiteral("'%1', ").arg(QLatin1String(command)) : QString(), name,
             Wrapped(name + QLatin1String(".serial_written")), Wrapped(name + QLatin1String(".serial_read")));
}

// Each entry brings a database of version n (its index) to version n + 1; version 0 is an empty
// file. Entries are only ever appended: a file made by any earlier program migrates step by step.
const std::vector<std::vector<QString>> Migrations{
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
        // 2 -> 3: a line of benches. Each run carries a name of its own everywhere it is sent;
        // the line's serial numbers and who took them; the bench's queue of runs for the line.
        {
            "ALTER TABLE TestResult ADD COLUMN run_uid TEXT",
            "CREATE UNIQUE INDEX TestResult_run_uid ON TestResult (run_uid)",
            "CREATE INDEX TestResult_bench ON TestResult (bench)",
            "CREATE TABLE SerialCounter (id INTEGER PRIMARY KEY, next_serial INTEGER NOT NULL)",
            "INSERT INTO SerialCounter (id, next_serial) VALUES (1, 1)",
            "CREATE TABLE SerialAllocation ("
            " serial INTEGER PRIMARY KEY,"
            " bench TEXT NOT NULL,"
            " run_uid TEXT,"
            " allocated_at TEXT NOT NULL,"
            " state TEXT NOT NULL,"
            " settled_at TEXT)",
            "CREATE TABLE LineQueue (run_id INTEGER PRIMARY KEY REFERENCES TestResult (id), sent_at TEXT)",
        },
        // 3 -> 4: the meter that gave the run's readings, as it named itself: the libsigrok driver
        // or SCPI, its maker, model, version and serial number, and where it was connected.
        {
            "ALTER TABLE TestResult ADD COLUMN meter_source TEXT",
            "ALTER TABLE TestResult ADD COLUMN meter_vendor TEXT",
            "ALTER TABLE TestResult ADD COLUMN meter_model TEXT",
            "ALTER TABLE TestResult ADD COLUMN meter_version TEXT",
            "ALTER TABLE TestResult ADD COLUMN meter_serial TEXT",
            "ALTER TABLE TestResult ADD COLUMN meter_connection TEXT",
        },
        // 4 -> 5: quality control. A reading far from the model's recent history is marked; a
        // finished calibration gets a certificate number, the same wherever the run is sent; the
        // meter's asset number and calibration due date as the bench had them. Readings are
        // looked up by model and time for the charts and the statistics.
        {
            "ALTER TABLE TestReading ADD COLUMN unusual INTEGER NOT NULL DEFAULT 0",
            "ALTER TABLE TestResult ADD COLUMN certificate_no TEXT",
            "CREATE UNIQUE INDEX TestResult_certificate_no ON TestResult (certificate_no)",
            "ALTER TABLE TestResult ADD COLUMN meter_asset_id TEXT",
            "ALTER TABLE TestResult ADD COLUMN meter_calibration_due TEXT",
            "CREATE INDEX TestResult_model_started ON TestResult (model, started_ms)",
        },
        // 5 -> 6: how far from its point's level a reading could lie at the bench (percent; 0: the
        // check was off), so that a certificate shows the band each reading was held to.
        {
            "ALTER TABLE TestResult ADD COLUMN plausibility_pct REAL",
        },
        // 6 -> 7: a line's lifetime of runs. The list finds its first page, also under a filter that
        // matches little or nothing, in narrow indexes of the columns the filters test rather than
        // in the rows with their event logs: by time, and by result then time.
        {
            "DROP INDEX TestResult_started",
            "CREATE INDEX TestResult_started_list ON TestResult (started_ms, id, serial_written, serial_read, result)",
            "CREATE INDEX TestResult_result_started ON TestResult (result, started_ms, id, serial_written, serial_read)",
        },
        // 7 -> 8: the statistics over a line's lifetime read sums, not every reading: the readings
        // of the ended calibrations per model, point, bench, result and local day of the start, in
        // thousandths, with the count outside the band each run was held to. Filled from the rows
        // already there once the table exists.
        {
            "CREATE TABLE ReadingSummary ("
            " model TEXT NOT NULL,"
            " point INTEGER NOT NULL,"
            " bench TEXT NOT NULL,"
            " result TEXT NOT NULL,"
            " day TEXT NOT NULL,"
            " n INTEGER NOT NULL,"
            " total INTEGER NOT NULL,"
            " squares INTEGER NOT NULL,"
            " lowest INTEGER NOT NULL,"
            " highest INTEGER NOT NULL,"
            " outside INTEGER NOT NULL,"
            " unusual INTEGER NOT NULL,"
            " PRIMARY KEY (model, point, bench, result, day))",
        },
        // 8 -> 9: a part of a serial number is found among a line's lifetime of runs without reading
        // every run: an index of the three-character pieces of each run's serial numbers, kept by
        // the record's own triggers. Each number is wrapped in two characters no serial holds, so
        // that one or two characters lie within a piece too. The index only narrows the search; the
        // list still holds every run to the serial filter itself. SerialPiece lists the pieces there
        // are, for a text too short to be a piece itself, as far as six characters of a number go;
        // a longer number is noted as the empty piece, and then that list is not to be relied on.
        {
            QStringLiteral("CREATE VIRTUAL TABLE SerialSearch USING fts5(serial_written, serial_read, content='', tokenize='trigram')"),
            QStringLiteral("CREATE TABLE SerialPiece (piece TEXT PRIMARY KEY) WITHOUT ROWID"),
            QStringLiteral("CREATE TRIGGER TestResult_serial_search_insert AFTER INSERT ON TestResult BEGIN ") + IndexSerials("new") +
                NewPieces() + QStringLiteral(" END"),
            QStringLiteral("CREATE TRIGGER TestResult_serial_search_update AFTER UPDATE OF id, serial_written, serial_read ON TestResult"
                           " WHEN old.id IS NOT new.id OR old.serial_written IS NOT new.serial_written"
                           " OR old.serial_read IS NOT new.serial_read BEGIN ") +
                IndexSerials("old", "delete") + IndexSerials("new") + NewPieces() + QStringLiteral(" END"),
            QStringLiteral("CREATE TRIGGER TestResult_serial_search_delete AFTER DELETE ON TestResult BEGIN ") +
                IndexSerials("old", "delete") + QStringLiteral(" END"),
            QStringLiteral("INSERT INTO SerialSearch (rowid, serial_written, serial_read) SELECT id, %1, %2 FROM TestResult")
                .arg(Wrapped(QStringLiteral("serial_written")), Wrapped(QStringLiteral("serial_read"))),
            AllPieces(),
        },
        // 9 -> 10: the statistics take the readings as taken, as the control chart does, rather than
        // the values written, and tell the readings held to a band from those of runs with the check
        // off. The readings as taken are summed as their offsets from the point's level, in double
        // precision, beside the thousandths kept before; every sum is filled anew from the readings.
        {
            "ALTER TABLE ReadingSummary ADD COLUMN checked INTEGER NOT NULL DEFAULT 0",
            "ALTER TABLE ReadingSummary ADD COLUMN offsets DOUBLE PRECISION NOT NULL DEFAULT 0",
            "ALTER TABLE ReadingSummary ADD COLUMN offset_squares DOUBLE PRECISION NOT NULL DEFAULT 0",
            "ALTER TABLE ReadingSummary ADD COLUMN lowest_taken DOUBLE PRECISION NOT NULL DEFAULT 0",
            "ALTER TABLE ReadingSummary ADD COLUMN highest_taken DOUBLE PRECISION NOT NULL DEFAULT 0",
            "DELETE FROM ReadingSummary",
        },
        // 10 -> 11: what a reading's uncertainty is evaluated from: the meter's accuracy as the bench
        // entered it, and per reading how many readings the meter gave, their standard deviation and
        // the step of the last digit. Readings recorded before have none, and are not evaluated.
        {
            "ALTER TABLE TestResult ADD COLUMN meter_accuracy TEXT",
            "ALTER TABLE TestReading ADD COLUMN reads INTEGER",
            "ALTER TABLE TestReading ADD COLUMN deviation DOUBLE PRECISION",
            "ALTER TABLE TestReading ADD COLUMN resolution DOUBLE PRECISION",
        },
};

// The step whose statements differ on a server. The list of pieces is the file's, kept by a
// trigger of the server's own language; the index of the pieces is PostgreSQL's (pg_trgm, a
// trusted extension the line's owner may add). A server without the extension keeps its runs as
// before, its serial filter reading every run.
constexpr int SerialSearchStep = 8;
const std::vector<QString> ServerSerialPieces{
    QStringLiteral("CREATE TABLE SerialPiece (piece TEXT PRIMARY KEY)"),
    QStringLiteral("CREATE FUNCTION serial_pieces() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN ") + NewPieces(true) +
        QStringLiteral(" RETURN NULL; END $$"),
    QStringLiteral("CREATE TRIGGER TestResult_serial_pieces AFTER INSERT OR UPDATE OF serial_written, serial_read ON TestResult"
                   " FOR EACH ROW EXECUTE FUNCTION serial_pieces()"),
    AllPieces(true),
};
const std::vector<const char*> ServerSerialSearch{
    "CREATE EXTENSION IF NOT EXISTS pg_trgm",
    "CREATE INDEX TestResult_serial_written_trgm ON TestResult USING gin (serial_written gin_trgm_ops)",
    "CREATE INDEX TestResult_serial_read_trgm ON TestResult USING gin (serial_read gin_trgm_ops)",
};

// The step after whose SQL the statistics' sums are filled from the rows already there: the last
// one to change their columns, so that a file of any earlier version is filled once, in full.
constexpr int SummaryStep = 9;

// TestResult's columns as a run is read whole or carried from bench to line; the server gives its own id.
const QStringList TestResultColumns{
    QStringLiteral("kind"),        QStringLiteral("started_at"),     QStringLiteral("started_ms"),
    QStringLiteral("ended_at"),    QStringLiteral("ended_ms"),       QStringLiteral("result"),
    QStringLiteral("serial_read"), QStringLiteral("serial_written"), QStringLiteral("model"),
    QStringLiteral("address"),     QStringLiteral("port"),           QStringLiteral("baud"),
    QStringLiteral("test_code"),   QStringLiteral("date_written"),   QStringLiteral("operator"),
    QStringLiteral("temperature"), QStringLiteral("humidity"),       QStringLiteral("bench"),
    QStringLiteral("program_version"), QStringLiteral("unit_counter_before"),
    QStringLiteral("unit_counter_after"), QStringLiteral("event_log"), QStringLiteral("run_uid"),
    QStringLiteral("meter_source"), QStringLiteral("meter_vendor"), QStringLiteral("meter_model"),
    QStringLiteral("meter_version"), QStringLiteral("meter_serial"), QStringLiteral("meter_connection"),
    QStringLiteral("meter_asset_id"), QStringLiteral("meter_calibration_due"), QStringLiteral("certificate_no"),
    QStringLiteral("plausibility_pct"), QStringLiteral("meter_accuracy")};

const QStringList TestReadingColumns{QStringLiteral("point"),   QStringLiteral("quantity"),   QStringLiteral("nominal"),
                                     QStringLiteral("typed"),   QStringLiteral("value_sent"), QStringLiteral("source"),
                                     QStringLiteral("unusual"), QStringLiteral("reads"),      QStringLiteral("deviation"),
                                     QStringLiteral("resolution")};

// The same schema on a PostgreSQL server: its integers are 64-bit and its ids an identity.
QString ForServer(QString s)
{
    s.replace(QLatin1String("INTEGER PRIMARY KEY AUTOINCREMENT"), QLatin1String("BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY"));
    s.replace(QLatin1String("INTEGER"), QLatin1String("BIGINT"));
    return s;
}

// libpq's sslmode values, from the weakest.
const QStringList SslModes{QStringLiteral("disable"), QStringLiteral("allow"),     QStringLiteral("prefer"),
                           QStringLiteral("require"), QStringLiteral("verify-ca"), QStringLiteral("verify-full")};

// What libpq takes as one host name, address, service or application name; as one whole path
// (a socket folder, a certificate); as one database or user name.
const QRegularExpression NamePattern(QStringLiteral("^[A-Za-z0-9_:][A-Za-z0-9_.:-]*$"));
const QRegularExpression PathPattern(QStringLiteral("^/[^\\s'\"\\\\;,\\p{Cc}]*$"));
const QRegularExpression WordPattern(QStringLiteral("^[^\\s'\"\\\\;=\\p{Cc}]+$"));

// The limits of a migration's statements; its waits for another bench's migration get half.
constexpr int MigrationLimitMs = 120000;

// A value as libpq's connection string quotes it. Qt turns every ';' into a blank, so a value
// never holds one (ServerSettings::problem() refuses it).
QString Quoted(QString value)
{
    value.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + value + QLatin1Char('\'');
}

// Everything the connection is opened with besides the server, user and password, which Qt
// quotes itself; only from settings whose problem() is empty.
QString ConnectOptions(const ServerSettings& s)
{
    const QString seconds = QString::number(s.connectTimeoutS);
    // A server that gets no answer through, or no longer answers at all, is given up after the
    // time set, like one that cannot be reached.
    QStringList options{QStringLiteral("connect_timeout=") + seconds,
                        QStringLiteral("tcp_user_timeout=%1").arg(s.connectTimeoutS * 1000),
                        QStringLiteral("keepalives=1"),
                        QStringLiteral("keepalives_idle=") + seconds,
                        QStringLiteral("keepalives_interval=1"),
                        QStringLiteral("keepalives_count=") + seconds,
                        QStringLiteral("sslmode=") + Quoted(s.sslMode),
                        QStringLiteral("gssencmode=disable"),
                        QStringLiteral("application_name=") + Quoted(s.applicationName),
                        QStringLiteral("options=") + Quoted(QStringLiteral("-c statement_timeout=%1 -c lock_timeout=%2")
                                                                .arg(s.statementTimeoutMs)
                                                                .arg(s.lockTimeoutMs))};
    // SCRAM bound to this TLS channel only: the password itself never travels, and a server that
    // asks for it any other way is refused.
    if (!s.trustedNetwork) options << QStringLiteral("channel_binding=require");
    if (!s.caFile.isEmpty()) options << QStringLiteral("sslrootcert=") + Quoted(s.caFile);
    if (!s.service.isEmpty()) options << QStringLiteral("service=") + Quoted(s.service);
    return options.join(QLatin1Char(' '));
}

}  // namespace

const QStringList& ReadingColumns() { return TestReadingColumns; }
const QStringList& RunColumns() { return TestResultColumns; }

QString UtcOffsetText(const QDateTime& t)
{
    const int offset = t.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return QStringLiteral("%1%2:%3")
        .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString IsoTime(const QDateTime& t)
{
    // With the offset spelled out (also +00:00), so that a record read elsewhere still tells the moment.
    return t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) + UtcOffsetText(t);
}

MeterDue MeterDueOn(const QString& due, const QDate& day)
{
    if (due.trimmed().isEmpty()) return MeterDue::NotGiven;
    const QDate date = QDate::fromString(due.trimmed(), Qt::ISODate);
    if (!date.isValid()) return MeterDue::Unreadable;
    // The due date itself is still a day of the meter's calibration.
    return day > date ? MeterDue::PastDue : MeterDue::InDate;
}

QString ServerSettings::describe() const
{
    QString where = host.isEmpty() ? QStringLiteral("(local socket)") : host;
    if (!service.isEmpty() && host.isEmpty()) where = QStringLiteral("service %1").arg(service);
    return QStringLiteral("%1@%2:%3/%4").arg(user.isEmpty() ? QStringLiteral("(default user)") : user, where).arg(port).arg(database);
}

QString ServerSettings::problem() const
{
    const bool socket = host.startsWith(QLatin1Char('/'));
    if (!host.isEmpty() && !(socket ? PathPattern : NamePattern).match(host).hasMatch())
        return QStringLiteral("[Database] Host=%1 is not one host name, address or socket folder").arg(host);
    if (port < 0 || port > 65535) return QStringLiteral("[Database] Port=%1 is not a port").arg(port);
    for (const auto& [key, value] : {std::pair{"Database", &database}, std::pair{"User", &user}})
        if (!value->isEmpty() && !WordPattern.match(*value).hasMatch())
            return QStringLiteral("[Database] %1=%2 holds a blank, a quote or a sign libpq would read as more settings").arg(QLatin1String(key), *value);
    if (!service.isEmpty() && !NamePattern.match(service).hasMatch())
        return QStringLiteral("[Database] Service=%1 is not a service name (letters, digits, _ . -)").arg(service);
    if (!NamePattern.match(applicationName).hasMatch()) return QStringLiteral("the application name %1 is not a name").arg(applicationName);
    if (!caFile.isEmpty() && !PathPattern.match(caFile).hasMatch())
        return QStringLiteral("[Database] CaFile=%1 is not a whole path without blanks").arg(caFile);
    if (!SslModes.contains(sslMode))
        return QStringLiteral("[Database] SslMode=%1 is not one of libpq's: %2").arg(sslMode, SslModes.join(QStringLiteral(", ")));
    if (connectTimeoutS < 1 || statementTimeoutMs < 1 || lockTimeoutMs < 1) return QStringLiteral("a time limit of the line's server is off");
    if (trustedNetwork) return QString();
    const QString allow = QStringLiteral("; on a network the line trusts, [Database] TrustedNetwork=yes allows it");
    if (SslModes.indexOf(sslMode) < SslModes.indexOf(QLatin1String("require")))
        return QStringLiteral("[Database] SslMode=%1 lets the password go to a server without TLS").arg(sslMode) + allow;
    if (socket) return QStringLiteral("[Database] Host=%1 is a socket folder, reached without TLS").arg(host) + allow;
    if (host.isEmpty() && service.isEmpty())
        return QStringLiteral("[Database] names no Host: the local socket is reached without TLS") + allow;
    return QString();
}

ResultsDb::ResultsDb() : connection_(QStringLiteral("results-") + QUuid::createUuid().toString(QUuid::WithoutBraces)) {}

ResultsDb::~ResultsDb() { close(); }

bool ResultsDb::IsCorruption(const QString& nativeErrorCode)
{
    // SQLITE_CORRUPT and SQLITE_NOTADB.
    return nativeErrorCode == QLatin1String("11") || nativeErrorCode == QLatin1String("26");
}

bool ResultsDb::HoldsDatabase(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) return false;
    return file.read(16) == QByteArray("SQLite format 3\0", 16);
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

bool ResultsDb::openServer(const ServerSettings& settings, Mode mode)
{
    close();
    server_ = true;
    damaged_ = false;
    path_ = settings.describe();
    error_.clear();
    movedAside_.clear();
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
        error_ = QStringLiteral("the PostgreSQL driver of Qt is not installed (libqt6sql6-psql)");
        return false;
    }
    const QString problem = settings.problem();
    if (!problem.isEmpty()) {
        error_ = QStringLiteral("the line's database %1 is not used: %2").arg(path_, problem);
        return false;
    }
    bool opened = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection_);
        db.setHostName(settings.host);
        if (settings.port > 0) db.setPort(settings.port);
        db.setDatabaseName(settings.database);
        db.setUserName(settings.user);
        db.setPassword(settings.password);
        db.setConnectOptions(ConnectOptions(settings));
        opened = db.open();
        if (!opened) {
            const QString why = db.lastError().text().simplified();
            error_ = QStringLiteral("the line's database %1 cannot be reached: %2").arg(path_, why);
            if (!settings.trustedNetwork && (why.contains(QLatin1String("SSL")) || why.contains(QLatin1String("channel binding"))))
                error_ += QStringLiteral(". The bench gives its password only over TLS, by SCRAM bound to it (scram-sha-256 in the server's"
                                         " pg_hba.conf); on a network the line trusts, [Database] TrustedNetwork=yes lets it connect without TLS");
        }
        // A migration of a line's lifetime of runs takes longer than a bench's statement, and may
        // wait for another bench's: it gets limits of its own, and the bench its own back after.
        if (opened && mode == Mode::Record) {
            QSqlQuery q(db);
            opened = q.exec(QStringLiteral("SET statement_timeout = %1; SET lock_timeout = %2").arg(MigrationLimitMs).arg(MigrationLimitMs / 2));
            if (!opened) error_ = QStringLiteral("the line's database %1: %2").arg(path_, q.lastError().text().trimmed());
        }
    }
    // The connection is dropped only here, where no handle of it is left.
    if (opened && checkVersion(mode)) {
        if (mode == Mode::Read) return true;
        QSqlQuery q(database());
        if (q.exec(QStringLiteral("RESET statement_timeout; RESET lock_timeout"))) return true;
        error_ = QStringLiteral("the line's database %1: %2").arg(path_, q.lastError().text().trimmed());
    }
    close();
    return false;
}

bool ResultsDb::open(const QString& path, Mode mode)
{
    close();
    server_ = false;
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
    if (!checkFiles(mode)) return false;
    // The connection is dropped only here, once no query of a failed attempt is left holding it.
    if (openConnection(mode)) return true;
    close();
    if (mode == Mode::Read && readOnlyFolder_) {
        // Reading a record in write-ahead mode needs its companion files, which a reader who may
        // not write the folder cannot make; a record no calibrator has open is whole without them.
        if (openConnection(mode, true)) return true;
        close();
    }
    if (const QString why = accessProblem(mode); !why.isEmpty()) {
        error_ = why;
        return false;
    }
    if (mode == Mode::Read || !damaged_ || !QFileInfo::exists(path)) return false;
    if (!HoldsDatabase(path)) {
        error_ = QStringLiteral("%1 is not a results database (%2); it is left as it is").arg(path, error_);
        return false;
    }
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

bool ResultsDb::checkFiles(Mode mode)
{
    readOnlyFolder_ = false;
    const QString folder = QFileInfo(path_).absolutePath();
    const bool shared = IsSharedFolder(folder);
    for (const char* companion : {"", "-wal", "-shm", "-journal"}) {
        const QString name = path_ + QLatin1String(companion);
        struct stat st {};
        if (::lstat(QFile::encodeName(name).constData(), &st) != 0) continue;
        // SQLite follows a link at the record's name or at a companion's and writes through it.
        if (S_ISLNK(st.st_mode) && shared) {
            error_ = QStringLiteral("%1 is a symbolic link in a folder other users may write; the record is not opened through it").arg(name);
            return false;
        }
        if (!S_ISLNK(st.st_mode) && !S_ISREG(st.st_mode)) {
            error_ = QStringLiteral("%1 is not a file; the record is not opened").arg(name);
            return false;
        }
        // A record an earlier program made for its user alone: the bench's other operators could
        // not write it after this one.
        if (shared && mode == Mode::Record && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & S_IWGRP) == 0)
            ::chmod(QFile::encodeName(name).constData(), (st.st_mode & 07777) | S_IRGRP | S_IWGRP);
    }
    if (mode == Mode::Read) {
        readOnlyFolder_ = ::access(QFile::encodeName(folder).constData(), W_OK) != 0;
        return true;
    }
    // Made here rather than by SQLite, which gives a new file 0644 whatever the umask says; its
    // companion files then take this file's rights.
    const int fd = ::open(QFile::encodeName(path_).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) ::close(fd);
    return true;
}

QString ResultsDb::accessProblem(Mode mode) const
{
    const int want = mode == Mode::Record ? R_OK | W_OK : R_OK;
    const QString folder = QFileInfo(path_).absolutePath();
    const QByteArray file = QFile::encodeName(path_);
    // Only a missing right is for the administrator to give; a read-only disk is not.
    QByteArray denied;
    if (::access(QFile::encodeName(folder).constData(), X_OK | (mode == Mode::Record ? W_OK : 0)) != 0 && errno == EACCES)
        denied = QFile::encodeName(folder);
    else if (::access(file.constData(), F_OK) == 0 && ::access(file.constData(), want) != 0 && errno == EACCES)
        denied = file;
    struct stat st {};
    if (denied.isEmpty() || ::stat(denied.constData(), &st) != 0) return QString();
    const struct passwd* user = ::getpwuid(::geteuid());
    const QString who = user ? QString::fromLocal8Bit(user->pw_name) : QString::number(::geteuid());
    const struct group* owners = ::getgrgid(st.st_gid);
    const QString group = owners ? QString::fromLocal8Bit(owners->gr_name) : QString::number(st.st_gid);
    const QString doing = mode == Mode::Record ? QStringLiteral("written") : QStringLiteral("read");
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(0, ::getgroups(0, nullptr))));
    const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
    const bool member = ::getegid() == st.st_gid || std::find(groups.begin(), groups.begin() + std::max(0, count), st.st_gid) != groups.begin() + std::max(0, count);
    if (member)
        return QStringLiteral("%1 cannot be %2 by %3, although %3 is one of its group %4: ask the bench's administrator to give the group the rights to it")
            .arg(QFile::decodeName(denied), doing, who, group);
    return QStringLiteral("%1 can be %2 only by the bench's operators, the group %3: ask the bench's administrator to add %4 to it "
                          "(adduser %4 %3, then log in again)")
        .arg(QFile::decodeName(denied), doing, group, who);
}

bool ResultsDb::openConnection(Mode mode, bool immutable)
{
    close();
    damaged_ = false;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    QString options = mode == Mode::Read ? QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=1000")
                                         : QStringLiteral("QSQLITE_BUSY_TIMEOUT=50");
    if (immutable) {
        QUrl url = QUrl::fromLocalFile(path_);
        url.setScheme(QStringLiteral("file"));
        url.setQuery(QStringLiteral("immutable=1"));
        db.setDatabaseName(url.toString(QUrl::FullyEncoded));
        options += QStringLiteral(";QSQLITE_OPEN_URI");
    } else {
        db.setDatabaseName(path_);
    }
    // A writer never waits long for a lock: the run it records must not be slowed.
    db.setConnectOptions(options);
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
        // A commit waits until the disk has it, so that it survives a power loss; a writer may
        // ask for less where a slow disk must not hold it up.
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
    // A statement still reading the schema would lock it against a migration's DROP.
    q.finish();
    return checkVersion(mode);
}

bool ResultsDb::checkVersion(Mode mode)
{
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
        if (server_) {
            // Several benches may start at once; the first one brings the schema up to date.
            QSqlDatabase db = database();
            QSqlQuery q(db);
            const QString why = QStringLiteral("%1 has schema %2 and cannot be brought to %3 by this bench")
                                    .arg(path_).arg(version).arg(SchemaVersionNow);
            if (!db.transaction() || !q.exec(QStringLiteral("SELECT pg_advisory_xact_lock(72007200)"))) {
                error_ = QStringLiteral("%1: %2").arg(why, db.lastError().text().trimmed());
                return false;
            }
            const bool ok = prepareSchema();
            if (!ok || !db.commit()) {
                if (ok) error_ = db.lastError().text().trimmed();
                error_ = QStringLiteral("%1: %2").arg(why, error_);
                db.rollback();
                return false;
            }
            return true;
        }
        if (!prepareSchema()) return false;
    }
    return true;
}

bool ResultsDb::readVersion(int* version)
{
    QSqlDatabase db = database();
    QSqlQuery q(db);
    const QString exists =
        server_ ? QStringLiteral("SELECT count(*) FROM information_schema.tables"
                                 " WHERE table_schema = current_schema() AND table_name = 'schemaversion'")
                : QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'SchemaVersion'");
    if (!q.exec(exists) || !q.next()) {
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
    // On a server the caller holds one transaction around all steps; a file commits each step.
    QSqlDatabase db = database();
    int version = 0;
    if (!readVersion(&version)) return false;
    auto failed = [&](const QSqlError& e) {
        error_ = server_ ? e.text().trimmed() : QStringLiteral("%1 cannot be written: %2").arg(path_, e.text());
        if (!server_) db.rollback();
        return false;
    };
    if (version > SchemaVersionNow) {
        error_ = QStringLiteral("made by a newer program (schema %1)").arg(version);
        return false;
    }
    while (version < SchemaVersionNow) {
        if (!server_ && !db.transaction()) return failed(db.lastError());
        QSqlQuery q(db);
        if (server_ && version == SerialSearchStep) {
            for (const QString& sql : ServerSerialPieces)
                if (!q.exec(sql)) return failed(q.lastError());
            // Within the schema's transaction, so that a refusal takes back only this step's index.
            if (!q.exec(QStringLiteral("SAVEPOINT serial_search"))) return failed(q.lastError());
            bool indexed = true;
            for (const char* sql : ServerSerialSearch) indexed = indexed && q.exec(QString::fromLatin1(sql));
            if (!q.exec(indexed ? QStringLiteral("RELEASE SAVEPOINT serial_search") : QStringLiteral("ROLLBACK TO SAVEPOINT serial_search")))
                return failed(q.lastError());
        } else {
            for (const QString& sql : Migrations[static_cast<std::size_t>(version)]) {
                if (!q.exec(server_ ? ForServer(sql) : sql)) return failed(q.lastError());
            }
        }
        if (version == SummaryStep) {
            QString why;
            if (!AddToReadingSummary(db, 0, &why)) return failed(QSqlError(why, QString(), QSqlError::StatementError));
        }
        q.prepare(QStringLiteral("UPDATE SchemaVersion SET version = ?"));
        q.addBindValue(version + 1);
        if (!q.exec()) return failed(q.lastError());
        if (!server_ && !db.commit()) return failed(db.lastError());
        ++version;
    }
    return true;
}
