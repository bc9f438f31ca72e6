// A private PostgreSQL 15 server in a temporary folder, started and ended by the tests that need a real database.
#include "PgServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <pwd.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace {

constexpr char kBinDir[] = "/usr/lib/postgresql/15/bin";
// Every program the fixture runs gets this long; pg_ctl waits as long for the server itself and is
// given a little more, so that its own account of a slow server is the one that gets reported.
constexpr int kChildTimeoutMs = 30000;
constexpr int kPgCtlWaitS = 30;
constexpr int kPgCtlTimeoutMs = kChildTimeoutMs + 5000;
constexpr int kStartAttempts = 5;
// An immediate shutdown takes a fraction of a second; a server that ignores it for longer is killed,
// well before the test that owns it runs out of time.
constexpr int kImmediateStopWaitS = 10;

QString binary(const char* name)
{
    return QStringLiteral("%1/%2").arg(QLatin1String(kBinDir), QLatin1String(name));
}

bool isExecutable(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

QString psqlPath()
{
    if (const QString own = binary("psql"); isExecutable(own)) return own;
    if (isExecutable(QStringLiteral("/usr/bin/psql"))) return QStringLiteral("/usr/bin/psql");
    return QStandardPaths::findExecutable(QStringLiteral("psql"));
}

QString setprivPath()
{
    const QString found = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    return found.isEmpty() ? QStringLiteral("/usr/bin/setpriv") : found;
}

// Settings the caller's shell may carry (PGHOST, PGPORT, PGDATA, PGSSLMODE...) would steer the
// programs away from this server, so none of them is passed on.
QProcessEnvironment cleanEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& key : env.keys())
        if (key.startsWith(QLatin1String("PG"))) env.remove(key);
    return env;
}

QString shellQuoted(QString text)
{
    return QLatin1Char('\'') + text.replace(QLatin1Char('\''), QLatin1String("'\\''")) + QLatin1Char('\'');
}

QString systemError(const QString& what, const QString& path)
{
    return QStringLiteral("%1 %2: %3").arg(what, path, QString::fromLocal8Bit(std::strerror(errno)));
}

bool fail(QString* error, const QString& text)
{
    if (error) *error = text;
    return false;
}

QString randomPassword()
{
    static constexpr char alphabet[] = "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789";
    QString password;
    for (int i = 0; i < 24; ++i)
        password += QLatin1Char(alphabet[QRandomGenerator::system()->bounded(int(sizeof alphabet) - 1)]);
    return password;
}

// Asks the system for a port nobody listens on; it is free again the moment this returns, so the
// caller must be ready for someone else to take it first.
int freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
    const int port = probe.serverPort();
    probe.close();
    return port;
}

// A process that has ended but was not reaped yet (its parent pg_ctl is long gone, and not every
// init reaps) counts as gone.
bool processAlive(qint64 pid)
{
    if (pid <= 0) return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray line = stat.readAll();
        const qsizetype close = line.lastIndexOf(')');
        if (close < 0 || close + 2 >= line.size()) return true;
        const char state = line.at(close + 2);
        return state != 'Z' && state != 'X';
    }
    if (QFileInfo::exists(QStringLiteral("/proc/self/stat"))) return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

struct ProcessEntry {
    qint64 pid = 0;
    qint64 parent = 0;
    // Whether its command line holds the data folder.
    bool namesFolder = false;
};

// The postmaster keeps the command line pg_ctl gave it, "-D <data folder>" among it; the server's
// children rename themselves and are known only by their parent.
std::vector<ProcessEntry> processTable(const QByteArray& dataDir)
{
    std::vector<ProcessEntry> table;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : entries) {
        ProcessEntry entry;
        bool numeric = false;
        entry.pid = name.toLongLong(&numeric);
        if (!numeric || entry.pid == ::getpid() || !processAlive(entry.pid)) continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry.pid));
        if (!stat.open(QIODevice::ReadOnly)) continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1) entry.parent = fields.at(1).toLongLong();
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry.pid));
        if (cmdline.open(QIODevice::ReadOnly)) entry.namesFolder = cmdline.readAll().split('\0').contains(dataDir);
        table.push_back(entry);
    }
    return table;
}

struct Outcome {
    bool ok = false;
    QString out;
    // The child's own complaints, whatever the outcome.
    QString stderrText;
    // What went wrong, stderr included, for an error message.
    QString problem;
};

Outcome runChild(const QString& name, const QString& program, const QStringList& args, const QString& workDir,
                 const QProcessEnvironment& env, const QByteArray& input, int timeoutMs)
{
    Outcome outcome;
    QProcess process;
    process.setProgram(program);
    process.setArguments(args);
    process.setProcessEnvironment(env);
    if (!workDir.isEmpty()) process.setWorkingDirectory(workDir);
    process.start();
    if (!process.waitForStarted(timeoutMs)) {
        outcome.problem = QStringLiteral("%1 could not be run (%2): %3").arg(name, program, process.errorString());
        return outcome;
    }
    if (!input.isEmpty()) process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(2000);
        outcome.out = QString::fromUtf8(process.readAllStandardOutput());
        outcome.stderrText = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        outcome.problem = QStringLiteral("%1 did not finish within %2 s and was killed\n%3")
                              .arg(name).arg(timeoutMs / 1000).arg(outcome.stderrText);
        return outcome;
    }
    outcome.out = QString::fromUtf8(process.readAllStandardOutput());
    outcome.stderrText = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    if (process.exitStatus() != QProcess::NormalExit) {
        outcome.problem = QStringLiteral("%1 crashed\n%2").arg(name, outcome.stderrText);
        return outcome;
    }
    if (process.exitCode() != 0) {
        outcome.problem = QStringLiteral("%1 failed with exit code %2\n%3")
                              .arg(name).arg(process.exitCode()).arg(outcome.stderrText);
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}

}  // namespace

PgServer::PgServer() = default;

PgServer::~PgServer()
{
    if (dir_) forceStop();
    // dir_ removes the folder as it goes.
}

bool PgServer::available()
{
    return isExecutable(binary("initdb")) && isExecutable(binary("pg_ctl"))
        && isExecutable(binary("postgres")) && !psqlPath().isEmpty();
}

QString PgServer::folder() const
{
    return dir_ ? dir_->path() : QString();
}

QString PgServer::dataDir() const
{
    return folder() + QLatin1String("/data");
}

QString PgServer::logPath() const
{
    return folder() + QLatin1String("/log");
}

bool PgServer::runAsServer(const QString& name, const QString& program, const QStringList& args,
                           int timeoutMs, QString* problem) const
{
    QProcessEnvironment env = cleanEnvironment();
    // Working in the folder and calling it home keeps the server's user out of the caller's
    // folders, which it may not be allowed to enter.
    env.insert(QStringLiteral("HOME"), folder());
    Outcome outcome;
    if (dropRoot_) {
        QStringList wrapped{QStringLiteral("--reuid=%1").arg(uid_), QStringLiteral("--regid=%1").arg(gid_),
                            QStringLiteral("--clear-groups"), QStringLiteral("--"), program};
        wrapped += args;
        outcome = runChild(name, setprivPath(), wrapped, folder(), env, {}, timeoutMs);
    } else {
        outcome = runChild(name, program, args, folder(), env, {}, timeoutMs);
    }
    if (problem) *problem = outcome.problem;
    return outcome.ok;
}

bool PgServer::initialise(QString* error)
{
    if (!available())
        return fail(error, QStringLiteral("PostgreSQL 15 is not installed (no initdb, pg_ctl, postgres in %1, or no psql)")
                               .arg(QLatin1String(kBinDir)));
    dropRoot_ = ::geteuid() == 0;
    if (dropRoot_) {
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody) return fail(error, QStringLiteral("running as root, but there is no user nobody to run PostgreSQL as"));
        uid_ = nobody->pw_uid;
        gid_ = nobody->pw_gid;
        if (!isExecutable(setprivPath()))
            return fail(error, QStringLiteral("running as root, but setpriv (util-linux) is missing to run PostgreSQL as nobody"));
    } else {
        uid_ = ::geteuid();
        gid_ = ::getegid();
    }

    auto dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QLatin1String("/pgserver-XXXXXX"));
    if (!dir->isValid()) return fail(error, QStringLiteral("no temporary folder: %1").arg(dir->errorString()));
    dir_ = std::move(dir);
    const QByteArray folderName = QFile::encodeName(folder());
    if (dropRoot_ && ::chown(folderName.constData(), uid_, gid_) != 0)
        return fail(error, systemError(QStringLiteral("cannot hand over"), folder()));
    if (::chmod(folderName.constData(), 0711) != 0)
        return fail(error, systemError(QStringLiteral("cannot open up"), folder()));
    if (dropRoot_) {
        // Owning the folder is not enough when a folder above it is closed to other users.
        QString problem;
        if (!runAsServer(QStringLiteral("the check that nobody can use the folder"), QStringLiteral("/bin/sh"),
                         {QStringLiteral("-c"), QStringLiteral("test -w \"$1\" && test -x \"$1\""),
                          QStringLiteral("sh"), folder()},
                         kChildTimeoutMs, &problem))
            return fail(error, QStringLiteral("user nobody cannot work in %1 (is every folder above it open to others?)\n%2")
                                   .arg(folder(), problem));
    }

    password_ = randomPassword();
    if (!initdb(true, error)) {
        const QString first = error ? *error : QString();
        QDir(dataDir()).removeRecursively();
        if (!initdb(false, error)) {
            if (error) *error = first + QLatin1String("\n--- again without a locale ---\n") + *error;
            return false;
        }
    }
    if (::chmod(QFile::encodeName(dataDir()).constData(), 0700) != 0)
        return fail(error, systemError(QStringLiteral("cannot close"), dataDir()));
    if (!makeCertificate(error)) return false;
    initialised_ = true;
    return true;
}

bool PgServer::initdb(bool withLocale, QString* error)
{
    // The password reaches initdb through a file only its user can read, gone right after.
    const QString pwPath = folder() + QLatin1String("/pw");
    {
        QFile pw(pwPath);
        QFile::remove(pwPath);
        if (!pw.open(QIODevice::WriteOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            return fail(error, QStringLiteral("cannot write %1: %2").arg(pwPath, pw.errorString()));
        pw.write(password_.toUtf8() + '\n');
        pw.close();
        if (dropRoot_ && ::chown(QFile::encodeName(pwPath).constData(), uid_, gid_) != 0)
            return fail(error, systemError(QStringLiteral("cannot hand over"), pwPath));
    }
    QStringList args{QStringLiteral("-D"), dataDir(), QStringLiteral("-U"), superUser(),
                     QStringLiteral("--pwfile=") + pwPath, QStringLiteral("--auth-local=trust"),
                     QStringLiteral("--auth-host=scram-sha-256"), QStringLiteral("-E"), QStringLiteral("UTF8"),
                     // A throw-away cluster need not wait for the disk, and initdb is seconds faster without.
                     QStringLiteral("--no-sync")};
    args << (withLocale ? QStringLiteral("--locale=C.UTF-8") : QStringLiteral("--no-locale"));
    QString problem;
    const bool ok = runAsServer(QStringLiteral("initdb"), binary("initdb"), args, kChildTimeoutMs, &problem);
    QFile::remove(pwPath);
    return ok || fail(error, problem);
}

bool PgServer::makeCertificate(QString* error)
{
    tls_ = false;
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    // Without openssl the server simply offers no TLS.
    if (openssl.isEmpty()) return true;
    // A throw-away authority, and from it the server's certificate for the one address it listens on.
    const QString key = dataDir() + QLatin1String("/server.key");
    const QString certificate = dataDir() + QLatin1String("/server.crt");
    const QString caKey = folder() + QLatin1String("/ca.key");
    const QStringList newKey{QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-new"), QStringLiteral("-nodes"), QStringLiteral("-days"),
                             QStringLiteral("2"), QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                             QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-subj")};
    for (const QStringList& args :
         {newKey + QStringList{QStringLiteral("/CN=Test line CA"), QStringLiteral("-keyout"), caKey, QStringLiteral("-out"), caFile()},
          newKey + QStringList{QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1"),
                               QStringLiteral("-addext"), QStringLiteral("basicConstraints=CA:FALSE"), QStringLiteral("-CA"), caFile(),
                               QStringLiteral("-CAkey"), caKey, QStringLiteral("-keyout"), key, QStringLiteral("-out"), certificate}}) {
        const Outcome outcome = runChild(QStringLiteral("openssl req"), openssl, args, folder(), cleanEnvironment(), {}, kChildTimeoutMs);
        if (!outcome.ok) return fail(error, outcome.problem);
    }
    // The server will not use a key others could read.
    for (const QString& file : {key, certificate}) {
        const QByteArray name = QFile::encodeName(file);
        if (dropRoot_ && ::chown(name.constData(), uid_, gid_) != 0)
            return fail(error, systemError(QStringLiteral("cannot hand over"), file));
        if (::chmod(name.constData(), file == key ? 0600 : 0644) != 0)
            return fail(error, systemError(QStringLiteral("cannot set the mode of"), file));
    }
    tls_ = true;
    return true;
}

bool PgServer::start(QString* error)
{
    if (isRunning()) return true;
    if (!initialised_ && !initialise(error)) return false;
    if (startedOnce_) return startOn(port_, error, nullptr);

    QString lastError;
    for (int attempt = 1; attempt <= kStartAttempts; ++attempt) {
        const int port = freePort();
        if (port == 0) return fail(error, QStringLiteral("no free TCP port on 127.0.0.1"));
        bool portTaken = false;
        if (startOn(port, &lastError, &portTaken)) {
            port_ = port;
            startedOnce_ = true;
            return true;
        }
        if (!portTaken) break;
    }
    return fail(error, lastError);
}

bool PgServer::startOn(int port, QString* error, bool* portTaken)
{
    const qint64 logStart = QFileInfo(logPath()).size();
    QStringList options{QStringLiteral("-c listen_addresses=127.0.0.1"), QStringLiteral("-p %1").arg(port),
                        QStringLiteral("-c unix_socket_directories=") + shellQuoted(folder()),
                        QStringLiteral("-c fsync=off"), QStringLiteral("-c max_connections=60")};
    if (tls_) options << QStringLiteral("-c ssl=on");
    QString problem;
    if (runAsServer(QStringLiteral("pg_ctl start"), binary("pg_ctl"),
                    {QStringLiteral("-D"), dataDir(), QStringLiteral("-l"), logPath(), QStringLiteral("-w"),
                     QStringLiteral("-t"), QString::number(kPgCtlWaitS), QStringLiteral("-o"),
                     options.join(QLatin1Char(' ')), QStringLiteral("start")},
                    kPgCtlTimeoutMs, &problem))
        return true;

    if (portTaken) {
        QFile log(logPath());
        if (log.open(QIODevice::ReadOnly) && log.seek(logStart))
            *portTaken = log.readAll().contains("Address already in use");
    }
    // pg_ctl may have stopped waiting for a server that is still on its way up.
    forceStop();
    return fail(error, QStringLiteral("%1 (port %2)\n--- server log ---\n%3").arg(problem).arg(port).arg(logTail()));
}

bool PgServer::stop(QString* error)
{
    if (!isRunning()) return true;
    QString problem;
    if (runAsServer(QStringLiteral("pg_ctl stop"), binary("pg_ctl"),
                    {QStringLiteral("-D"), dataDir(), QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("-w"),
                     QStringLiteral("-t"), QString::number(kPgCtlWaitS), QStringLiteral("stop")},
                    kPgCtlTimeoutMs, &problem))
        return true;
    return fail(error, QStringLiteral("%1\n--- server log ---\n%2").arg(problem, logTail()));
}

bool PgServer::isRunning() const
{
    return dir_ && processAlive(postmasterPid());
}

qint64 PgServer::postmasterPid() const
{
    QFile file(dataDir() + QLatin1String("/postmaster.pid"));
    if (!file.open(QIODevice::ReadOnly)) return 0;
    return file.readLine().trimmed().toLongLong();
}

void PgServer::forceStop()
{
    if (isRunning())
        runAsServer(QStringLiteral("pg_ctl stop"), binary("pg_ctl"),
                    {QStringLiteral("-D"), dataDir(), QStringLiteral("-m"), QStringLiteral("immediate"),
                     QStringLiteral("-w"), QStringLiteral("-t"), QString::number(kImmediateStopWaitS),
                     QStringLiteral("stop")},
                    kImmediateStopWaitS * 1000 + 5000, nullptr);

    // What is left is the postmaster (and a pg_ctl that never came back) with the server's own
    // children; each child sits in a process group of its own, so they are found by their parent.
    const std::vector<ProcessEntry> table = processTable(QFile::encodeName(dataDir()));
    std::vector<qint64> doomed;
    for (const ProcessEntry& entry : table)
        if (entry.namesFolder) doomed.push_back(entry.pid);
    if (doomed.empty()) return;
    const std::vector<qint64> parents = doomed;
    for (const ProcessEntry& entry : table)
        if (!entry.namesFolder && std::find(parents.begin(), parents.end(), entry.parent) != parents.end())
            doomed.push_back(entry.pid);

    // The postmaster goes first: it would otherwise answer its children's deaths with a restart.
    for (const qint64 pid : doomed) ::kill(static_cast<pid_t>(pid), SIGKILL);
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()
           && std::any_of(doomed.begin(), doomed.end(), [](qint64 pid) { return processAlive(pid); }))
        QThread::msleep(20);

    // A killed postmaster leaves its small System V segment behind; its id is on the seventh line.
    QFile lock(dataDir() + QLatin1String("/postmaster.pid"));
    if (lock.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = lock.readAll().split('\n');
        if (lines.size() > 6) {
            const QList<QByteArray> fields = lines.at(6).simplified().split(' ');
            bool numeric = false;
            const int id = fields.size() == 2 ? fields.at(1).toInt(&numeric) : -1;
            if (numeric && id >= 0) ::shmctl(id, IPC_RMID, nullptr);
        }
    }
}

bool PgServer::exec(const QString& sql, const QString& database, QString* output, QString* error) const
{
    if (output) output->clear();
    if (port_ == 0) return fail(error, QStringLiteral("the server was never started"));
    QProcessEnvironment env = cleanEnvironment();
    env.insert(QStringLiteral("PGPASSWORD"), password_);
    env.insert(QStringLiteral("PGCONNECT_TIMEOUT"), QStringLiteral("10"));
    env.insert(QStringLiteral("PGCLIENTENCODING"), QStringLiteral("UTF8"));
    const Outcome outcome = runChild(QStringLiteral("psql"), psqlPath(),
                                     {QStringLiteral("-h"), host(), QStringLiteral("-p"), QString::number(port_),
                                      QStringLiteral("-U"), superUser(), QStringLiteral("-d"), database,
                                      QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-X"),
                                      QStringLiteral("-q"), QStringLiteral("-At"), QStringLiteral("-f"), QStringLiteral("-")},
                                     QString(), env, sql.toUtf8(), kChildTimeoutMs);
    if (output) *output = outcome.out.trimmed();
    if (outcome.ok) return true;
    return fail(error, outcome.stderrText.isEmpty() ? outcome.problem : outcome.stderrText);
}

QString PgServer::logTail(int lines) const
{
    QFile log(logPath());
    if (!dir_ || !log.open(QIODevice::ReadOnly)) return {};
    constexpr qint64 window = 64 * 1024;
    if (log.size() > window) log.seek(log.size() - window);
    QStringList all = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'));
    while (!all.isEmpty() && all.last().isEmpty()) all.removeLast();
    return all.mid(qMax(0, int(all.size()) - lines)).join(QLatin1Char('\n'));
}
