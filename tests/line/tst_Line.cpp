// Tests of a line of benches on a real PostgreSQL server: the [Database] section, the schema on the
// server, the serial numbers it hands out (also to many processes at once), the queue of runs while
// the server is away, every way the server can refuse a bench, and the limits of every call to it.
#include "LineSettings.h"
#include "LineSync.h"
#include "PgServer.h"
#include "RecordedBench.h"
#include "ResultsDb.h"
#include "ResultsQuery.h"
#include "SerialAllocator.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <map>
#include <thread>
#include <arpa/inet.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// One database of the line with its owner role, and Config.Ini files that reach it.
struct LineDb {
    QString name;
    QString role;
    QString password;
};

int FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool HasFrame(const std::vector<TPsuFrame>& frames, std::uint8_t command)
{
    for (const TPsuFrame& f : frames)
        if (f.command() == command) return true;
    return false;
}

QStringList Column(const QSqlDatabase& db, const QString& sql)
{
    QStringList out;
    QSqlQuery q(db);
    if (!q.exec(sql)) return {QStringLiteral("error: ") + q.lastError().text()};
    while (q.next()) out << q.value(0).toString();
    return out;
}

// A calibration in virtual time whose serial number comes from a real server: while the engine
// waits for it (neither sending nor prompting), virtual time runs no faster than real time and
// this thread handles its events, as a window's would.
bool CalibrateOnLine(RecordedBench& bench)
{
    bench.engine.btnStartClick();
    return bench.clock.advanceUntil([&e = bench.engine] {
        if (e.state().FCalibrating && !e.TimerSend().isActive() && !e.TimerReadVol().isActive()) QTest::qWait(1);
        return !e.state().FCalibrating;
    }, 300000);
}

// A server that refuses TLS and asks for the password in clear text; it counts the passwords it
// is given before it closes the connection, and so before the bench can tell of it.
struct CleartextServer {
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int port = 0;
    std::atomic<int> passwords{0};
    std::thread thread;

    CleartextServer()
    {
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t size = sizeof address;
        auto* name = reinterpret_cast<sockaddr*>(&address);
        // Without a port of its own, port is 0 and nothing reaches it: the row fails.
        if (::bind(listener, name, size) == 0 && ::listen(listener, 4) == 0 && ::getsockname(listener, name, &size) == 0) port = ntohs(address.sin_port);
        thread = std::thread([this] {
            char m[1024];
            const timeval limit{5, 0};
            for (int c; (c = ::accept(listener, nullptr, nullptr)) >= 0; ::close(c)) {
                ::setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
                // The request for TLS (eight bytes) is refused; each message then comes whole.
                if (::recv(c, m, sizeof m, 0) == 8 && ::send(c, "N", 1, MSG_NOSIGNAL) == 1 && ::recv(c, m, sizeof m, 0) > 8 &&
                    ::send(c, "R\0\0\0\x08\0\0\0\x03", 9, MSG_NOSIGNAL) == 9 && ::recv(c, m, sizeof m, 0) > 6 && m[0] == 'p')
                    ++passwords;  // AuthenticationCleartextPassword was answered
            }
        });
    }
    ~CleartextServer() { ::shutdown(listener, SHUT_RDWR); thread.join(); ::close(listener); }
};

}  // namespace

class TestLine : public QObject {
    Q_OBJECT

    PgServer server_;
    QTemporaryDir dir_;
    int made_ = 0;

    LineDb MakeLineDb()
    {
        ++made_;
        LineDb db{QStringLiteral("line%1").arg(made_), QStringLiteral("bench%1").arg(made_), QStringLiteral("pw-%1").arg(made_)};
        QString error;
        if (!server_.exec(QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD '%2'").arg(db.role, db.password), QStringLiteral("postgres"), nullptr, &error) ||
            !server_.exec(QStringLiteral("CREATE DATABASE %1 OWNER %2").arg(db.name, db.role), QStringLiteral("postgres"), nullptr, &error))
            qWarning("%s", qPrintable(error));
        return db;
    }

    // A Config.Ini in a folder of its own: `keys` are written into [Database] as they are;
    // `password` goes into an owner-only pw file unless it is null.
    QString WriteIni(const QStringList& keys, const QString& password, int mode = 0600)
    {
        const QString folder = dir_.filePath(QStringLiteral("bench-%1").arg(++made_));
        QDir().mkpath(folder);
        // The authority of the line's certificate, as the line's owner gives it to every bench.
        QFile::copy(server_.caFile(), folder + QStringLiteral("/ca.crt"));
        QFile ini(folder + QStringLiteral("/Config.Ini"));
        ini.open(QIODevice::WriteOnly);
        ini.write(keys.isEmpty() ? "[Ports]\r\nCOM1=/dev/ttyS0\r\n" : "[Database]\r\n");
        for (const QString& k : keys) ini.write(k.toUtf8() + "\r\n");
        if (!password.isNull()) {
            ini.write("PasswordFile=pw\r\n");
            QFile pw(folder + QStringLiteral("/pw"));
            pw.open(QIODevice::WriteOnly);
            pw.write(password.toUtf8() + "\n");
            pw.close();
            QFile::setPermissions(pw.fileName(), QFileDevice::Permissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
            if (mode != 0600) ::chmod(QFile::encodeName(pw.fileName()).constData(), static_cast<mode_t>(mode));
        }
        return ini.fileName();
    }

    QStringList Keys(const LineDb& db, const QString& bench = QStringLiteral("bench-a")) const
    {
        return {QStringLiteral("Driver=QPSQL"), QStringLiteral("Host=%1").arg(server_.host()),
                QStringLiteral("Port=%1").arg(server_.port()), QStringLiteral("Database=%1").arg(db.name),
                QStringLiteral("User=%1").arg(db.role), QStringLiteral("Bench=%1").arg(bench),
                QStringLiteral("ConnectTimeout=2"), QStringLiteral("CaFile=ca.crt")};
    }

    QString IniFor(const LineDb& db, const QString& bench = QStringLiteral("bench-a"))
    {
        return WriteIni(Keys(db, bench), db.password);
    }

    // The server as its owner sees it, for checking what arrived.
    struct Look {
        ResultsDb db;
        QStringList column(const QString& sql) const { return Column(db.database(), sql); }
    };
    std::unique_ptr<Look> LookAt(const LineDb& line)
    {
        auto look = std::make_unique<Look>();
        ServerSettings s;
        s.host = server_.host();
        s.port = server_.port();
        s.database = line.name;
        s.user = line.role;
        s.password = line.password;
        if (!look->db.openServer(s, ResultsDb::Mode::Read)) qWarning("%s", qPrintable(look->db.errorText()));
        return look;
    }

    // A line database brought back to schema 2, the one before the line's tables, with one run in it.
    LineDb OlderLine()
    {
        const LineDb line = MakeLineDb();
        {
            ResultsDb db;
            db.openServer(LoadLineSettings(IniFor(line), QString()).server, ResultsDb::Mode::Record);
        }
        QString error;
        if (!server_.exec(QStringLiteral("SET ROLE %1; DROP TABLE LineQueue, SerialAllocation, SerialCounter; DROP INDEX testresult_bench;"
                                         " ALTER TABLE TestResult DROP COLUMN run_uid, DROP COLUMN meter_source, DROP COLUMN meter_vendor,"
                                         " DROP COLUMN meter_model, DROP COLUMN meter_version, DROP COLUMN meter_serial, DROP COLUMN meter_connection,"
                                         " DROP COLUMN certificate_no, DROP COLUMN meter_asset_id, DROP COLUMN meter_calibration_due, DROP COLUMN plausibility_pct,"
                                         " DROP COLUMN meter_accuracy; DROP INDEX testresult_model_started;"
                                         " ALTER TABLE TestReading DROP COLUMN unusual, DROP COLUMN reads, DROP COLUMN deviation, DROP COLUMN resolution;"
                                         " DROP INDEX testresult_started_list, testresult_result_started; DROP TABLE ReadingSummary;"
                                         " CREATE INDEX testresult_started ON TestResult (started_ms);"
                                         " DROP INDEX testresult_serial_written_trgm, testresult_serial_read_trgm;"
                                         " DROP TABLE SerialPiece; DROP FUNCTION serial_pieces() CASCADE;"
                                         " UPDATE SchemaVersion SET version = 2;"
                                         " INSERT INTO TestResult (kind, started_at, started_ms, ended_ms, result) VALUES ('calibration', 'then', 1, 2, 'finished');"
                                         " INSERT INTO TestReading (run_id, point, quantity, value_sent) SELECT id, 4, 'V', 37010 FROM TestResult;")
                              .arg(line.role),
                          line.name, nullptr, &error))
            qWarning("%s", qPrintable(error));
        return line;
    }

private slots:
    void initTestCase();
    void settings_data();
    void settings();
    void passwordFile_data();
    void passwordFile();
    void schemaMatchesTheFile();
    void serialSearch_data();
    void serialSearch();
    void refusals_data();
    void refusals();
    void olderSchemaMigratedByItsOwner();
    void passwordFromLibpqFiles();
    void allocationAcrossProcesses();
    void lockedServer_data();
    void lockedServer();
    void counterSetBack();
    void queueWhileServerAway();
};

void TestLine::initTestCase()
{
    QVERIFY(dir_.isValid());
    if (!PgServer::available()) QSKIP("PostgreSQL 15 is not installed (scripts/setup.sh installs it)");
    QString error;
    QVERIFY2(server_.start(&error), qPrintable(error));
    QVERIFY2(server_.tls(), "the server needs a certificate (openssl)");
}

void TestLine::settings_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QString>("password");  // null: no password file
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("problem");   // a part of it; empty: none

    const QStringList base{QStringLiteral("Driver=QPSQL"), QStringLiteral("Host=db.plant"), QStringLiteral("Database=line")};
    QTest::newRow("no section, a single bench") << QStringList() << QString() << 0600 << false << QString();
    QTest::newRow("password from libpq's own files") << base << QString() << 0600 << true << QString();
    QTest::newRow("owner-only password file") << base << QStringLiteral("s3cret") << 0600 << true << QString();
    QTest::newRow("password file others may read") << base << QStringLiteral("s3cret") << 0644 << true << QStringLiteral("may be read by others (mode 0644)");
    QTest::newRow("password in Config.Ini") << (base + QStringList{QStringLiteral("Password=s3cret")}) << QString() << 0600 << true
                                            << QStringLiteral("holds a Password");
    QTest::newRow("missing password file") << (base + QStringList{QStringLiteral("PasswordFile=nowhere")}) << QString() << 0600 << true
                                           << QStringLiteral("does not exist");
    QTest::newRow("another driver") << QStringList{QStringLiteral("Driver=QMYSQL"), QStringLiteral("Database=line")} << QString() << 0600 << true
                                    << QStringLiteral("Driver=QMYSQL is not known");
    QTest::newRow("no database named") << QStringList{QStringLiteral("Driver=QPSQL"), QStringLiteral("Host=db")} << QString() << 0600 << true
                                       << QStringLiteral("neither a Database nor a Service");
    QTest::newRow("a service instead") << QStringList{QStringLiteral("Driver=QPSQL"), QStringLiteral("Service=line")} << QString() << 0600 << true
                                       << QString();
    // Root's, for the several operators of a bench to read through its group.
    QTest::newRow("password file of the bench's operators") << base << QStringLiteral("s3cret") << 0640 << true << QString();
    // Values go to libpq one by one, each as libpq takes it; the password only over TLS.
    for (const auto& [key, problem] : {std::pair{"SslMode=prefer channel_binding=require", "not one of libpq's"}, {"SslMode=required", "not one of libpq's"},
                                       {"Host=db plant", "not one host"}, {"SslMode=prefer", "TrustedNetwork=yes"}, {"Host=/run/postgresql", "TrustedNetwork=yes"}})
        QTest::newRow(key) << (QStringList{QLatin1String(key)} + base) << QString() << 0600 << true << QString::fromLatin1(problem);
}

void TestLine::settings()
{
    QFETCH(QStringList, keys);
    QFETCH(QString, password);
    QFETCH(int, mode);
    QFETCH(bool, enabled);
    QFETCH(QString, problem);
    const QString ini = WriteIni(keys, password, mode);
    const LineSettings s = LoadLineSettings(ini, QStringLiteral("host-9"));
    QCOMPARE(s.enabled, enabled);
    if (problem.isEmpty()) {
        QVERIFY2(s.problem.isEmpty(), qPrintable(s.problem));
    } else {
        QVERIFY2(s.problem.contains(problem), qPrintable(s.problem));
        QVERIFY(s.server.password.isEmpty());
    }
    if (enabled && problem.isEmpty()) {
        QCOMPARE(s.bench, QStringLiteral("host-9"));
        QCOMPARE(s.server.password, password.isNull() ? QString() : password);
        QCOMPARE(s.server.sslMode, QStringLiteral("require"));
    }
}

void TestLine::passwordFile_data()
{
    // PasswordFile= as Config.Ini names it; {secret} is a file outside the bench's folder, {up} its
    // folder and name.
    QTest::addColumn<QString>("named");
    QTest::addColumn<QString>("problem");
    QTest::newRow("outside the bench's folders") << "{secret}" << "outside the bench's own folders";
    QTest::newRow("above the bench's folder") << "../{up}" << "outside the bench's own folders";
    QTest::newRow("a symbolic link") << "symbolic" << "is a symbolic link";
    QTest::newRow("a hard link") << "hard" << "has other names";
}

void TestLine::passwordFile()
{
    // Another operator edits the shared Config.Ini so that the calibrator sends them a file of the
    // operator who starts it: that file is never even opened.
    QFETCH(QString, named);
    QFETCH(QString, problem);
    const QString secret = QFileInfo(WriteIni({}, QStringLiteral("the operator's own"))).absolutePath() + QStringLiteral("/pw");
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QVERIFY(::inotify_add_watch(watch, QFile::encodeName(secret).constData(), IN_OPEN | IN_ACCESS) >= 0);
    named.replace(QStringLiteral("{secret}"), secret).replace(QStringLiteral("{up}"), secret.section(QLatin1Char('/'), -2));
    const QString ini = WriteIni({QStringLiteral("Driver=QPSQL"), QStringLiteral("Host=db"), QStringLiteral("Database=line"), QStringLiteral("PasswordFile=") + named}, QString());
    const QByteArray at = QFile::encodeName(QFileInfo(ini).absolutePath() + QLatin1Char('/') + named);
    QVERIFY(named == QLatin1String("symbolic") ? ::symlink(QFile::encodeName(secret).constData(), at.constData()) == 0
            : named != QLatin1String("hard") || ::link(QFile::encodeName(secret).constData(), at.constData()) == 0);
    const LineSettings s = LoadLineSettings(ini, QString());
    QVERIFY2(s.problem.contains(problem) && s.server.password.isEmpty(), qPrintable(s.problem));
    char events[4096];
    QCOMPARE(::read(watch, events, sizeof events), ssize_t(-1));
    ::close(watch);
}

void TestLine::schemaMatchesTheFile()
{
    // What a bench's file holds and what the line's server holds must be the same tables and columns:
    // the queue copies columns by name from one to the other.
    const LineDb line = MakeLineDb();
    ResultsDb server;
    QVERIFY2(server.openServer(LoadLineSettings(IniFor(line), QString()).server, ResultsDb::Mode::Record), qPrintable(server.errorText()));
    ResultsDb file;
    QVERIFY2(file.open(dir_.filePath(QStringLiteral("schema.sqlite")), ResultsDb::Mode::Record), qPrintable(file.errorText()));
    for (const QString& table : {QStringLiteral("TestResult"), QStringLiteral("TestReading"), QStringLiteral("TestStep"),
                                QStringLiteral("SerialAllocation"), QStringLiteral("SerialCounter"), QStringLiteral("LineQueue"),
                                QStringLiteral("SchemaVersion"), QStringLiteral("ReadingSummary"), QStringLiteral("SerialPiece")}) {
        QStringList onServer = Column(server.database(), QStringLiteral("SELECT column_name FROM information_schema.columns"
                                                                        " WHERE table_name = '%1' ORDER BY ordinal_position")
                                                             .arg(table.toLower()));
        QStringList inFile = Column(file.database(), QStringLiteral("SELECT name FROM pragma_table_info('%1')").arg(table));
        QVERIFY2(!inFile.isEmpty(), qPrintable(table));
        QCOMPARE(onServer, inFile);
    }
    QCOMPARE(Column(server.database(), QStringLiteral("SELECT version FROM SchemaVersion")), QStringList{QString::number(ResultsDb::SchemaVersionNow)});
    QCOMPARE(Column(server.database(), QStringLiteral("SELECT data_type FROM information_schema.columns WHERE table_name = 'testresult' AND column_name = 'started_ms'")),
             QStringList{QStringLiteral("bigint")});
    if (server_.tls())
        QCOMPARE(Column(server.database(), QStringLiteral("SELECT ssl FROM pg_stat_ssl WHERE pid = pg_backend_pid()")), QStringList{QStringLiteral("true")});
}

void TestLine::serialSearch_data()
{
    QTest::addColumn<bool>("ownsDatabase");
    QTest::newRow("the line's owner adds pg_trgm") << true;
    // A database its benches may fill but not extend: the serial filter reads every run instead.
    QTest::newRow("no right to add an extension") << false;
}

void TestLine::serialSearch()
{
    QFETCH(bool, ownsDatabase);
    LineDb line = MakeLineDb();
    if (!ownsDatabase) {
        line.name += QStringLiteral("_lent");
        QVERIFY(server_.exec(QStringLiteral("CREATE DATABASE %1").arg(line.name)));
        QVERIFY(server_.exec(QStringLiteral("GRANT CREATE ON SCHEMA public TO %1").arg(line.role), line.name));
    }
    ResultsDb db;
    QVERIFY2(db.openServer(LoadLineSettings(IniFor(line), QString()).server, ResultsDb::Mode::Record), qPrintable(db.errorText()));
    QCOMPARE(Column(db.database(), QStringLiteral("SELECT version FROM SchemaVersion")), QStringList{QString::number(ResultsDb::SchemaVersionNow)});
    // The same runs in a bench's file: the server's trigger lists the pieces the file's does.
    ResultsDb file;
    QVERIFY(file.open(dir_.filePath(QStringLiteral("pieces-%1.sqlite").arg(line.name)), ResultsDb::Mode::Record));
    for (const QSqlDatabase& d : {db.database(), file.database()}) {
        QSqlQuery q(d);
        QVERIFY(q.exec(QStringLiteral("INSERT INTO TestResult (kind, started_at, started_ms, result, serial_written, serial_read) VALUES"
                                      " ('calibration', 'a', 1000, 'finished', '004711', '004711'),"
                                      " ('calibration', 'b', 2000, 'finished', NULL, '1047AB'),"
                                      " ('calibration', 'c', 3000, 'failed', '000042', NULL)")));
        QVERIFY(q.exec(QStringLiteral("UPDATE TestResult SET serial_read = '104711' WHERE id = 2")));
    }
    const QStringList inFile = Column(file.database(), QStringLiteral("SELECT piece FROM SerialPiece"));
    const QStringList onServer = Column(db.database(), QStringLiteral("SELECT piece FROM SerialPiece"));
    QCOMPARE(QSet<QString>(onServer.begin(), onServer.end()), QSet<QString>(inFile.begin(), inFile.end()));
    QVERIFY(inFile.contains(QStringLiteral("7ab")));
    struct Case { const char* serial; SerialLookup lookup; QList<qint64> ids; };
    const SerialLookup indexed = ownsDatabase ? SerialLookup::Index : SerialLookup::Scan;
    for (const Case& c : {Case{"4711", indexed, {2, 1}}, Case{"104", indexed, {2}}, Case{"999", indexed, {}},
                          Case{"47", SerialLookup::Scan, {2, 1}}, Case{"x", SerialLookup::Nothing, {}}, Case{"1_4", indexed, {}}}) {
        const RunFilter filter = PlanRunFilter(db.database(), {.serial = QString::fromLatin1(c.serial)});
        std::vector<RunSummary> runs;
        QVERIFY2(filter.serialLookup == c.lookup && ListRuns(db.database(), filter, &runs, nullptr), c.serial);
        QList<qint64> ids;
        for (const RunSummary& r : runs) ids << r.id;
        QVERIFY2(ids == c.ids, c.serial);
    }
}

void TestLine::refusals_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("message");
    QTest::newRow("wrong password") << "wrong password" << "password authentication failed";
    QTest::newRow("missing database") << "missing database" << "does not exist";
    QTest::newRow("server of an older schema") << "older schema" << QStringLiteral("has schema 2 and cannot be brought to %1").arg(ResultsDb::SchemaVersionNow);
    QTest::newRow("nothing listening") << "nothing listening" << "cannot be reached";
    QTest::newRow("password others may read") << "open password file" << "may be read by others";
    // It would be given the password, were it not for TLS.
    QTest::newRow("a server without TLS") << "cleartext server" << "TrustedNetwork=yes";
    // The line's server, but verified against another authority, or by another name.
    QTest::newRow("another authority") << "CaFile=other.crt" << "certificate verify failed";
    QTest::newRow("a name the certificate does not carry") << "Host=localhost" << "does not match host name";
}

void TestLine::refusals()
{
    QFETCH(QString, how);
    QFETCH(QString, message);
    LineDb line = MakeLineDb();
    CleartextServer cleartext;
    QString ini;
    if (how == QLatin1String("wrong password")) {
        ini = WriteIni(Keys(line), QStringLiteral("not-") + line.password);
    } else if (how == QLatin1String("missing database")) {
        line.name = QStringLiteral("nosuchline");
        ini = IniFor(line);
    } else if (how == QLatin1String("older schema")) {
        // A bench role that may read and write the tables but, not owning them, not change them.
        const LineDb older = OlderLine();
        QVERIFY(server_.exec(QStringLiteral("GRANT SELECT, INSERT, UPDATE ON ALL TABLES IN SCHEMA public TO %1").arg(line.role), older.name));
        line.name = older.name;
        ini = IniFor(line);
    } else if (how == QLatin1String("nothing listening")) {
        QStringList keys = Keys(line);
        keys.replaceInStrings(QRegularExpression(QStringLiteral("^Port=.*")), QStringLiteral("Port=%1").arg(FreePort()));
        ini = WriteIni(keys, line.password);
    } else if (how.contains(QLatin1Char('=')) || how == QLatin1String("cleartext server")) {
        ini = WriteIni(QStringList{how == QLatin1String("cleartext server") ? QStringLiteral("Port=%1").arg(cleartext.port) : how} + Keys(line), line.password);
        // An authority of its own, which signed nothing the server has.
        const QString other = QFileInfo(ini).absolutePath();
        QCOMPARE(QProcess::execute(QStringLiteral("openssl"), {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-new"), QStringLiteral("-nodes"),
                                                               QStringLiteral("-subj"), QStringLiteral("/CN=Another CA"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                                                               QStringLiteral("-keyout"), other + QStringLiteral("/other.key"), QStringLiteral("-out"), other + QStringLiteral("/other.crt")}), 0);
    } else {
        ini = WriteIni(Keys(line), line.password, 0644);
    }
    const LineSettings settings = LoadLineSettings(ini, QString());

    // A supply without a number is refused before any calibration value is written, with the reason;
    // the bench's own counter is neither used nor changed.
    RecordedBench bench({});
    std::vector<TPsuFrame> sent;
    bench.answers = [&](const TPsuFrame& f) {
        sent.push_back(f);
        return true;
    };
    SerialAllocator allocator(settings, [] { return QStringLiteral("run-1"); });
    bench.engine.setSerialSource(&allocator);
    QVERIFY(CalibrateOnLine(bench));
    QCOMPARE(bench.engine.state().FUnitCounter, 42);
    QVERIFY(!HasFrame(sent, Cmd::SerialAndModel));
    QVERIFY(!HasFrame(sent, Cmd::VoltageValue));
    const QStringList errors = bench.view.boxTexts(QStringLiteral("Error"));
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors[0].contains(QStringLiteral("none could be taken from the line's database")) && errors[0].contains(message), qPrintable(errors[0]));
    QCOMPARE(bench.view.resultLabel, QStringLiteral("Failed!"));

    // A supply with its own number is calibrated all the same, and its run waits in the queue.
    bench.serialDigits = "004711";
    sent.clear();
    QVERIFY(bench.calibrate());
    QCOMPARE(bench.view.boxTexts(QStringLiteral("Information")).size(), 1);
    QVERIFY(HasFrame(sent, Cmd::SerialAndModel));
    QCOMPARE(bench.engine.state().FUnitCounter, 42);

    // The queue says the same and sends nothing.
    LineSync sync(settings, dir_.filePath(QStringLiteral("refusal-%1.sqlite").arg(made_)));
    QString error;
    QCOMPARE(sync.SendQueued(&error), -1);
    QVERIFY2(error.contains(message), qPrintable(error));
    QCOMPARE(cleartext.passwords.load(), 0);
}

void TestLine::olderSchemaMigratedByItsOwner()
{
    const LineDb line = OlderLine();
    ResultsDb reader;
    QVERIFY(!reader.openServer(LoadLineSettings(IniFor(line), QString()).server, ResultsDb::Mode::Read));
    QVERIFY2(reader.errorText().contains(QStringLiteral("older schema (2)")), qPrintable(reader.errorText()));
    ResultsDb db;
    QVERIFY2(db.openServer(LoadLineSettings(IniFor(line), QString()).server, ResultsDb::Mode::Record), qPrintable(db.errorText()));
    QCOMPARE(Column(db.database(), QStringLiteral("SELECT version FROM SchemaVersion")), QStringList{QString::number(ResultsDb::SchemaVersionNow)});
    QCOMPARE(Column(db.database(), QStringLiteral("SELECT started_at FROM TestResult")), QStringList{QStringLiteral("then")});
    // The meter's columns reach the server too, empty for the run from before them.
    QCOMPARE(Column(db.database(), QStringLiteral("SELECT count(*) FROM TestResult WHERE meter_source IS NULL AND meter_connection IS NULL")),
             QStringList{QStringLiteral("1")});
    QCOMPARE(Column(db.database(), QStringLiteral("SELECT next_serial FROM SerialCounter")), QStringList{QStringLiteral("1")});
    // Its reading is in the line's statistics, on the day the bench's clock calls it.
    QCOMPARE(Column(db.database(), QStringLiteral("SELECT point || ' ' || day || ' ' || n || ' ' || squares FROM ReadingSummary")),
             QStringList{QStringLiteral("4 %1 1 1369740100").arg(QDateTime::fromMSecsSinceEpoch(1).date().toString(Qt::ISODate))});
}

void TestLine::passwordFromLibpqFiles()
{
    // Without a PasswordFile, libpq's own password file is used: nothing is in Config.Ini.
    const LineDb line = MakeLineDb();
    const QString pgpass = dir_.filePath(QStringLiteral("pgpass"));
    QFile f(pgpass);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("%1:%2:%3:%4:%5\n").arg(server_.host()).arg(server_.port()).arg(line.name, line.role, line.password).toUtf8());
    f.close();
    QVERIFY(f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    const LineSettings settings = LoadLineSettings(WriteIni(Keys(line), QString()), QString());
    QVERIFY(settings.problem.isEmpty() && settings.server.password.isEmpty());
    ResultsDb db;
    QVERIFY(!db.openServer(settings.server, ResultsDb::Mode::Record));
    qputenv("PGPASSFILE", QFile::encodeName(pgpass));
    const bool opened = db.openServer(settings.server, ResultsDb::Mode::Record);
    qunsetenv("PGPASSFILE");
    QVERIFY2(opened, qPrintable(db.errorText()));
}

void TestLine::allocationAcrossProcesses()
{
    // Benches started at once take numbers at once: two, then eight. Every number is given once,
    // to the bench that printed it, and none is lost between them.
    const LineDb line = MakeLineDb();
    const int seed = 5000;
    std::map<int, QString> given;
    int total = 0;
    for (const auto& [benches, each] : {std::pair{2, 60}, std::pair{8, 40}}) {
        std::vector<std::unique_ptr<QProcess>> probes;
        for (int i = 0; i < benches; ++i) {
            auto p = std::make_unique<QProcess>();
            p->setProgram(QStringLiteral(LINE_PROBE_EXE));
            p->setArguments({IniFor(line, QStringLiteral("bench-%1-of-%2").arg(i).arg(benches)), QString::number(each), QString::number(seed)});
            probes.push_back(std::move(p));
        }
        for (auto& p : probes) p->start();
        for (int i = 0; i < benches; ++i) {
            QProcess& p = *probes[static_cast<std::size_t>(i)];
            QVERIFY(p.waitForFinished(120000));
            const QString out = QString::fromUtf8(p.readAllStandardOutput());
            QVERIFY2(p.exitCode() == 0, qPrintable(out));
            const QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            QCOMPARE(lines.size(), each);
            for (const QString& l : lines) {
                const int serial = l.section(QLatin1Char(' '), 1).toInt();
                QVERIFY2(!given.count(serial), qPrintable(QStringLiteral("%1 given twice").arg(serial)));
                given[serial] = QStringLiteral("bench-%1-of-%2").arg(i).arg(benches);
            }
        }
        total += benches * each;
    }
    QCOMPARE(static_cast<int>(given.size()), total);
    QCOMPARE(given.begin()->first, seed);
    QCOMPARE(given.rbegin()->first, seed + total - 1);
    const auto look = LookAt(line);
    const QStringList rows = look->column(QStringLiteral("SELECT serial || ' ' || bench || ' ' || state FROM SerialAllocation ORDER BY serial"));
    QCOMPARE(rows.size(), total);
    for (const QString& row : rows) {
        const QStringList f = row.split(QLatin1Char(' '));
        QCOMPARE(f.value(1), given[f.value(0).toInt()]);
        QCOMPARE(f.value(2), QStringLiteral("allocated"));
    }
}

void TestLine::lockedServer_data()
{
    QTest::addColumn<QString>("table");
    QTest::newRow("the serial counter") << "SerialCounter";
    QTest::newRow("the runs") << "TestResult";
}

void TestLine::lockedServer()
{
    // Another session holds a table of the line, for 8 s at most: a bench without limits is seen
    // to wait that long rather than for ever.
    QFETCH(QString, table);
    const LineDb line = MakeLineDb();
    const LineSettings settings = LoadLineSettings(IniFor(line), QString());
    const QString local = dir_.filePath(QStringLiteral("locked-%1.sqlite").arg(table));
    RecordedBench bench(local);
    bench.record->setQueueForLine(true);
    if (table == QLatin1String("TestResult")) QVERIFY(bench.calibrate());
    ResultsDb holder;
    QVERIFY(holder.openServer(settings.server, ResultsDb::Mode::Record));
    QSqlQuery held(holder.database());
    QVERIFY(held.exec(QStringLiteral("SET idle_in_transaction_session_timeout = 8000; BEGIN; LOCK TABLE %1 IN ACCESS EXCLUSIVE MODE").arg(table)));
    QElapsedTimer waited;
    waited.start();
    if (table == QLatin1String("SerialCounter")) {
        // A supply without a number is refused within the limit, and the window's thread stays free.
        QTimer tick;
        QSignalSpy ticks(&tick, &QTimer::timeout);
        tick.start(20);
        SerialAllocator allocator(settings, [&bench] { return bench.record->runUid(); });
        bench.engine.setSerialSource(&allocator);
        QVERIFY(CalibrateOnLine(bench));
        const QString why = QStringLiteral("%1 ms, %2 ticks: %3").arg(waited.elapsed()).arg(ticks.size()).arg(bench.view.boxTexts(QStringLiteral("Error")).value(0));
        QVERIFY2(why.contains(QStringLiteral("lock timeout")) && waited.elapsed() < 6000 && ticks.size() > waited.elapsed() / 40, qPrintable(why));
        return;
    }
    // Stopped while its run waits for the table, the queue's thread ends within a few seconds; the run goes at the next start.
    LineUploader uploader(settings, local, {}, nullptr);
    uploader.start();
    const auto look = LookAt(line);
    QTRY_COMPARE_WITH_TIMEOUT(look->column(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock'")),
                              QStringList{QStringLiteral("1")}, 5000);
    waited.restart();
    uploader.Stop();
    QVERIFY2(waited.elapsed() < 4000 && held.exec(QStringLiteral("ROLLBACK")), qPrintable(QString::number(waited.elapsed())));
    QString error;
    QCOMPARE(LineSync(settings, local).SendQueued(&error), 1);
    QCOMPARE(look->column(QStringLiteral("SELECT serial_written FROM TestResult")), QStringList{QStringLiteral("000042")});
}

void TestLine::counterSetBack()
{
    // 000042 to 000044 are given, the first two reach the line; then the server is restored from a
    // backup that knows none of the three numbers.
    const LineDb line = MakeLineDb();
    const LineSettings settings = LoadLineSettings(IniFor(line), QString());
    const QString local = dir_.filePath(QStringLiteral("set-back.sqlite"));
    RecordedBench bench(local);
    bench.record->setQueueForLine(true);
    SerialAllocator allocator(settings, [&bench] { return bench.record->runUid(); }, local);
    bench.engine.setSerialSource(&allocator);
    QString error;
    for (int run = 0; run < 3; ++run) QVERIFY(CalibrateOnLine(bench) && (run == 2 || LineSync(settings, local).SendQueued(&error) == 1));
    QVERIFY(server_.exec(QStringLiteral("UPDATE SerialCounter SET next_serial = 40; DELETE FROM SerialAllocation"), line.name));
    QVERIFY(CalibrateOnLine(bench));
    const QStringList runs = Column(bench.record->db().database(), QStringLiteral("SELECT serial_written || ' ' || event_log FROM TestResult ORDER BY id"));
    QVERIFY2(runs.size() == 4 && runs[2].startsWith(QStringLiteral("000044 ")) && runs[3].startsWith(QStringLiteral("000045 ")) &&
             runs[3].contains(QStringLiteral("000042 to 000044 are already used (2 on the line's record, 1 in this bench's own only)")), qPrintable(runs.join(QLatin1Char('\n'))));
}

void TestLine::queueWhileServerAway()
{
    const LineDb line = MakeLineDb();
    const QString ini = IniFor(line, QStringLiteral("bench-q"));
    const LineSettings settings = LoadLineSettings(ini, QString());
    const QString local = dir_.filePath(QStringLiteral("queue.sqlite"));
    RecordedBench bench(local);
    bench.record->setQueueForLine(true);
    SerialAllocator allocator(settings, [&bench] { return bench.record->runUid(); });
    bench.engine.setSerialSource(&allocator);
    LineSync sync(settings, local);
    QString error;
    std::vector<TPsuFrame> sent;
    std::function<void(const TPsuFrame&)> duringRun;
    bench.answers = [&](const TPsuFrame& f) {
        sent.push_back(f);
        if (duringRun) duringRun(f);
        return true;
    };
    auto serialSent = [&sent] {
        for (const TPsuFrame& f : sent)
            if (f.command() == Cmd::SerialAndModel) {
                QString digits;
                for (int i = 0; i < 6; ++i) digits += QLatin1Char(static_cast<char>(f.data(i)));
                return digits;
            }
        return QString();
    };

    // 1: a new supply gets the line's first number, at least the bench's counter, and the run arrives.
    QVERIFY(CalibrateOnLine(bench));
    QCOMPARE(serialSent(), QStringLiteral("000042"));
    QCOMPARE(sync.SendQueued(&error), 1);

    // 2: a new supply whose run is aborted before step 25: its number is recorded as never written.
    sent.clear();
    duringRun = [&](const TPsuFrame& f) {
        // Just after its answer, which took the number.
        if (f.command() == Cmd::ReadSerial) bench.clock.scheduleIn(100, [&] { bench.engine.btnCancelClick(); });
    };
    QVERIFY(CalibrateOnLine(bench));
    QVERIFY(serialSent().isEmpty());

    // 3: a supply with its own number; the server goes away in the middle of the run, which goes on.
    bench.serialDigits = "123456";
    sent.clear();
    bool stopped = false;
    duringRun = [&](const TPsuFrame& f) {
        if (f.command() == Cmd::VoltageValue && !stopped) stopped = server_.stop(&error);
    };
    QVERIFY(bench.calibrate());
    QVERIFY2(stopped, qPrintable(error));
    QCOMPARE(serialSent(), QStringLiteral("123456"));
    QCOMPARE(sync.SendQueued(&error), -1);
    QCOMPARE(sync.Queued(&error), 2);
    duringRun = {};

    // 4: a new supply while the server is away is refused; 5: one with its number is not.
    bench.serialDigits = "      ";
    QVERIFY(CalibrateOnLine(bench));
    QVERIFY2(bench.view.boxTexts(QStringLiteral("Error")).value(0).contains(QStringLiteral("cannot be reached")),
             qPrintable(bench.view.boxTexts(QStringLiteral("Error")).value(0)));
    bench.serialDigits = "123457";
    QVERIFY(bench.calibrate());
    QCOMPARE(bench.engine.state().FUnitCounter, 42);
    QCOMPARE(sync.Queued(&error), 4);

    // Back: the waiting runs arrive once each, in the order they ran.
    QVERIFY2(server_.start(&error), qPrintable(error));
    QCOMPARE(sync.SendQueued(&error), 4);
    QCOMPARE(sync.Queued(&error), 0);
    ResultsDb file;
    QVERIFY(file.open(local, ResultsDb::Mode::Read));
    const QStringList localOrder = Column(file.database(), QStringLiteral("SELECT run_uid FROM TestResult ORDER BY id"));
    QCOMPARE(localOrder.size(), 5);
    auto look = LookAt(line);
    QCOMPARE(look->column(QStringLiteral("SELECT run_uid FROM TestResult ORDER BY id")), localOrder);
    // The finished units' certificates carry the same numbers on the line as in the bench's file.
    const QString numbers = QStringLiteral("SELECT COALESCE(certificate_no, '-') FROM TestResult ORDER BY id");
    QCOMPARE(Column(file.database(), numbers).value(2), QStringLiteral("bench-7-20260309-0003"));
    QCOMPARE(look->column(numbers), Column(file.database(), numbers));
    QCOMPARE(look->column(QStringLiteral("SELECT DISTINCT bench FROM TestResult")), QStringList{QStringLiteral("bench-7")});
    QCOMPARE(look->column(QStringLiteral("SELECT result FROM TestResult ORDER BY id")),
             (QStringList{QStringLiteral("finished"), QStringLiteral("aborted"), QStringLiteral("finished"), QStringLiteral("failed"),
                          QStringLiteral("finished")}));
    QCOMPARE(look->column(QStringLiteral("SELECT serial || ' ' || bench || ' ' || state FROM SerialAllocation ORDER BY serial")),
             (QStringList{QStringLiteral("42 bench-q written"), QStringLiteral("43 bench-q unused")}));
    QCOMPARE(look->column(QStringLiteral("SELECT count(*) FROM TestReading")), QStringList{QStringLiteral("21")});
    QCOMPARE(look->column(QStringLiteral("SELECT sends FROM TestStep s JOIN TestResult r ON r.id = s.run_id WHERE r.serial_read = '123456' AND s.step = 25")),
             QStringList{QStringLiteral("1")});

    // A bench that lost its marks (a crash between the server's commit and its own) sends again:
    // nothing arrives twice.
    {
        QSqlQuery q(bench.record->db().database());
        QVERIFY(q.exec(QStringLiteral("UPDATE LineQueue SET sent_at = NULL")));
    }
    LineSync again(settings, local);
    QCOMPARE(again.SendQueued(&error), 5);
    QCOMPARE(look->column(QStringLiteral("SELECT count(*) FROM TestResult")), QStringList{QStringLiteral("5")});
    QCOMPARE(look->column(QStringLiteral("SELECT count(*) FROM TestReading")), QStringList{QStringLiteral("21")});
    // Sent again, the line's statistics still hold each run once, summed up as the bench's file has it.
    const QString summed = QStringLiteral("SELECT model || ' ' || point || ' ' || bench || ' ' || result || ' ' || day || ' ' || n || ' ' ||"
                                          " total || ' ' || squares || ' ' || lowest || ' ' || highest || ' ' || outside || ' ' || unusual"
                                          " FROM ReadingSummary ORDER BY point, result");
    QCOMPARE(look->column(QStringLiteral("SELECT sum(n) FROM ReadingSummary")), QStringList{QStringLiteral("21")});
    QCOMPARE(look->column(summed), Column(file.database(), summed));

    // The supervisors' tool reads the line with the same commands as a bench's file.
    QProcess tool;
    tool.start(QStringLiteral(KORVEX_RESULTS_EXE), {QStringLiteral("--config"), ini, QStringLiteral("list"), QStringLiteral("--serial"), QStringLiteral("12345")});
    QVERIFY(tool.waitForFinished(30000));
    QCOMPARE(tool.exitCode(), 0);
    const QStringList listed = QString::fromUtf8(tool.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(listed.size(), 3);
    QVERIFY(listed[1].contains(QStringLiteral("123457")) && listed[2].contains(QStringLiteral("123456")));
    tool.start(QStringLiteral(KORVEX_RESULTS_EXE), {QStringLiteral("--config"), WriteIni(Keys(line), QStringLiteral("wrong")), QStringLiteral("list")});
    QVERIFY(tool.waitForFinished(30000));
    QCOMPARE(tool.exitCode(), 3);
    QVERIFY(tool.readAllStandardError().contains("password authentication failed"));
}

QTEST_GUILESS_MAIN(TestLine)
#include "tst_Line.moc"
