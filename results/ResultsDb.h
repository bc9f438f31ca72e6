// The results database "PowerTestDb": one SQLite file, its schema and how it is opened.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// Tables TestResult (one row per run), TestReading (the seven readings of a calibration) and
// TestStep (each step's state and sends), with SchemaVersion holding the schema's version.
// A PostgreSQL server shared by a line of benches. The password never comes from Config.Ini:
// from a file of the bench's own, or from libpq's own password and service files. It is used only
// over TLS and only by SCRAM bound to that TLS channel, so that it never travels itself, whoever
// answers; only on a network the line trusts may a bench do without.
// Every member has its default, so that settings may name only what they set.
struct ServerSettings {
    QString host{};
    int port = 5432;
    QString database{};
    QString user{};
    QString password{};
    QString service{};                // a name in pg_service.conf, instead of or besides the above
    QString sslMode = QStringLiteral("require");  // libpq's sslmode
    QString caFile{};                 // the authority the server's certificate must come from
    bool trustedNetwork = false;      // the server may be reached without TLS
    int connectTimeoutS = 5;
    // The server's own limits of every statement and of every wait for a lock: no call to the
    // line waits longer, whatever another session holds.
    int statementTimeoutMs = 5000;
    int lockTimeoutMs = 2000;
    QString applicationName = QStringLiteral("korvex-calibrator");

    // "user@host:port/database", for messages.
    QString describe() const;
    // Which value libpq would not take as it is meant, in words for the operator; empty when
    // every one is sound. Nothing is passed on to libpq as it was written.
    QString problem() const;
};

// The columns of TestReading after its run's id, in the order every reader and writer of a reading
// uses: point, quantity, nominal, typed, value_sent, source, unusual, reads, deviation, resolution.
const QStringList& ReadingColumns();
// The columns of TestResult but its id, in the order every reader and copier of a whole run uses.
const QStringList& RunColumns();

// A moment as every row carries it: ISO 8601 with milliseconds and the offset from UTC.
QString IsoTime(const QDateTime& t);
// The offset of `t` from UTC as ISO 8601 writes it: "+01:00", "-05:30", "+00:00".
QString UtcOffsetText(const QDateTime& t);

class ResultsDb {
public:
    static constexpr int SchemaVersionNow = 11;

    enum class Mode {
        // The calibrator: creates the file and its schema, migrates an older one, and moves a
        // corrupt file aside (never deletes it) to start a new one.
        Record,
        // Supervisors' tools and the results window: reads only; a missing or corrupt file is an
        // error.
        Read,
    };

    ResultsDb();
    ~ResultsDb();
    ResultsDb(const ResultsDb&) = delete;
    ResultsDb& operator=(const ResultsDb&) = delete;

    bool open(const QString& path, Mode mode);
    // The same schema on a server; in Record mode it is created or migrated, one bench at a time.
    bool openServer(const ServerSettings& settings, Mode mode);
    void close();
    bool isOpen() const;
    QSqlDatabase database() const;
    QString path() const { return path_; }

    // Why the last open failed, in words for the operator.
    QString errorText() const { return error_; }
    // Where a corrupt file was moved by the last open; empty when none was.
    QString movedAside() const { return movedAside_; }

    // Whether the file begins as every SQLite database does: only such a file is ever moved aside.
    static bool HoldsDatabase(const QString& path);
    // Moves the file (and its -wal and -shm companions) aside under a name carrying the time;
    // returns the new name, empty when it could not be moved.
    static QString MoveAside(const QString& path);
    // Whether a driver error means the file is not a database or is damaged.
    static bool IsCorruption(const QString& nativeErrorCode);

private:
    // Refuses links and other things than files at the record's names in a folder others may
    // write, and makes a new record's file with the rights the bench's operators need.
    bool checkFiles(Mode mode);
    bool openConnection(Mode mode, bool immutable = false);
    // Why this user may not read (or write) the record, in words saying whom to ask; empty when the
    // rights are not what stands in the way.
    QString accessProblem(Mode mode) const;
    bool prepareSchema();
    bool readVersion(int* version);
    bool checkVersion(Mode mode);

    QString connection_;
    QString path_;
    QString error_;
    QString movedAside_;
    // The last failure came from a damaged file, not from a refusal or a missing right.
    bool damaged_ = false;
    bool server_ = false;
    // The reader may not write the record's folder.
    bool readOnlyFolder_ = false;
};

// The meter that gave a run's readings, as the record keeps it (TestResult's meter_* columns).
struct MeterOfRun {
    QString source;  // the libsigrok driver, or SCPI
    QString vendor, model, version, serial, connection;
    bool isEmpty() const { return source.isEmpty() && vendor.isEmpty() && model.isEmpty(); }
    // "Fluke 287 V1.16 on /dev/ttyUSB0", with the serial number when there is one.
    QString describe() const
    {
        QStringList words;
        for (const QString& w : {vendor, model, version})
            if (!w.isEmpty()) words << w;
        QString text = words.isEmpty() ? source : words.join(QLatin1Char(' '));
        if (!serial.isEmpty()) text += QStringLiteral(" (serial %1)").arg(serial);
        if (!connection.isEmpty()) text += QStringLiteral(" on ") + connection;
        return text;
    }
};

// Whether the meter was within its calibration on `day`, by the due date [Meter] gave
// (CalibrationDue=, yyyy-MM-dd).
enum class MeterDue { NotGiven, InDate, PastDue, Unreadable };
MeterDue MeterDueOn(const QString& due, const QDate& day);
