// The [Database] section of Config.Ini, read once at start.
#include "LineSettings.h"

#include "IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString Section = QStringLiteral("Database");

bool Within(const QString& folder, const QString& root)
{
    return !root.isEmpty() && (folder == root || folder.startsWith(root + QLatin1Char('/')));
}

// A file Config.Ini names. Config.Ini may be edited by others than the operator who starts the
// calibrator, so the file is opened only where it lies in one of the bench's own folders (that
// of Config.Ini, the bench's folder under /etc), is neither a link nor another name of a file,
// belongs to root or to the operator and may be changed by no one else; a `secret` may be read by
// its group (the bench's operators), not by everyone. Returns the open file, or -1 with *problem set.
int OpenBenchFile(const QString& iniFolder, const QString& what, const QString& named, bool secret, QString* path, QString* problem)
{
    *path = QDir::cleanPath(QDir(iniFolder).absoluteFilePath(named));
    const QString folder = QFileInfo(QFileInfo(*path).absolutePath()).canonicalFilePath();
    if (!Within(folder, QFileInfo(iniFolder).canonicalFilePath()) && !Within(folder, QFileInfo(BenchSystemFolder).canonicalFilePath())) {
        *problem = QStringLiteral("the %1 %2 lies outside the bench's own folders (that of Config.Ini, and %3)").arg(what, *path, BenchSystemFolder);
        return -1;
    }
    struct stat st {};
    const QByteArray native = QFile::encodeName(*path);
    QString fault;
    if (::lstat(native.constData(), &st) != 0)
        fault = QStringLiteral("does not exist");
    else if (S_ISLNK(st.st_mode))
        fault = QStringLiteral("is a symbolic link; the bench reads only a file of its own");
    else if (!S_ISREG(st.st_mode))
        fault = QStringLiteral("is not a file");
    else if (st.st_nlink != 1)
        fault = QStringLiteral("has other names (hard links); the bench reads only a file of its own");
    else if (st.st_uid != 0 && st.st_uid != ::geteuid())
        fault = QStringLiteral("belongs to another user");
    else if ((st.st_mode & 022) != 0)
        fault = QStringLiteral("may be changed by others than its owner (mode %1)").arg(st.st_mode & 0777, 4, 8, QLatin1Char('0'));
    else if (secret && (st.st_mode & 007) != 0)
        fault = QStringLiteral("may be read by others (mode %1); only its owner and its group may (chmod 640)").arg(st.st_mode & 0777, 4, 8, QLatin1Char('0'));
    if (!fault.isEmpty()) {
        *problem = QStringLiteral("the %1 %2 %3").arg(what, *path, fault);
        return -1;
    }
    const int fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    struct stat opened {};
    if (fd < 0 || ::fstat(fd, &opened) != 0 || opened.st_dev != st.st_dev || opened.st_ino != st.st_ino) {
        *problem = QStringLiteral("the %1 %2 cannot be read: %3")
                       .arg(what, *path, fd < 0 ? QString::fromLocal8Bit(std::strerror(errno)) : QStringLiteral("it changed while it was opened"));
        if (fd >= 0) ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

LineSettings LoadLineSettings(const QString& iniPath, const QString& hostName)
{
    const IniFile ini(iniPath);
    LineSettings s;
    const QString driver = ini.ReadString(Section, QStringLiteral("Driver"), QString()).trimmed();
    if (driver.isEmpty()) return s;
    s.enabled = true;
    s.bench = ini.ReadString(Section, QStringLiteral("Bench"), hostName).trimmed();
    if (s.bench.isEmpty()) s.bench = hostName;
    ServerSettings& server = s.server;
    server.host = ini.ReadString(Section, QStringLiteral("Host"), QString()).trimmed();
    server.port = ini.ReadInteger(Section, QStringLiteral("Port"), 5432);
    server.database = ini.ReadString(Section, QStringLiteral("Database"), QString()).trimmed();
    server.user = ini.ReadString(Section, QStringLiteral("User"), QString()).trimmed();
    server.service = ini.ReadString(Section, QStringLiteral("Service"), QString()).trimmed();
    const QString caFile = ini.ReadString(Section, QStringLiteral("CaFile"), QString()).trimmed();
    const QString trusted = ini.ReadString(Section, QStringLiteral("TrustedNetwork"), QStringLiteral("no")).trimmed().toLower();
    server.trustedNetwork = trusted == QLatin1String("yes");
    // A CA names the one server whose certificate it signed: then its name is checked too.
    const QString sslMode = caFile.isEmpty() ? (server.trustedNetwork ? QStringLiteral("prefer") : server.sslMode) : QStringLiteral("verify-full");
    server.sslMode = ini.ReadString(Section, QStringLiteral("SslMode"), sslMode).trimmed();
    const int timeout = ini.ReadInteger(Section, QStringLiteral("ConnectTimeout"), server.connectTimeoutS);
    if (timeout >= 1 && timeout <= 60) server.connectTimeoutS = timeout;
    const int retry = ini.ReadInteger(Section, QStringLiteral("RetrySeconds"), s.retryMs / 1000);
    if (retry >= 1 && retry <= 3600) s.retryMs = retry * 1000;

    if (driver.compare(QLatin1String("QPSQL"), Qt::CaseInsensitive) != 0) {
        s.problem = QStringLiteral("[Database] Driver=%1 is not known; a line uses QPSQL").arg(driver);
        return s;
    }
    if (server.port < 1 || server.port > 65535) {
        s.problem = QStringLiteral("[Database] Port=%1 is not a port").arg(server.port);
        return s;
    }
    if (server.database.isEmpty() && server.service.isEmpty()) {
        s.problem = QStringLiteral("[Database] names neither a Database nor a Service");
        return s;
    }
    if (trusted != QLatin1String("yes") && trusted != QLatin1String("no")) {
        s.problem = QStringLiteral("[Database] TrustedNetwork=%1 is neither yes nor no").arg(trusted);
        return s;
    }
    if (!ini.ReadString(Section, QStringLiteral("Password"), QString()).isEmpty()) {
        // Config.Ini is read by every operator of the bench; a password there is everyone's.
        s.problem = QStringLiteral("[Database] holds a Password; it belongs in a PasswordFile of the bench's own");
        return s;
    }
    const QString iniFolder = QFileInfo(iniPath).absolutePath();
    if (!caFile.isEmpty()) {
        const int fd = OpenBenchFile(iniFolder, QStringLiteral("certificate authority"), caFile, false, &server.caFile, &s.problem);
        if (fd < 0) return s;
        ::close(fd);
    }
    s.problem = server.problem();
    if (!s.problem.isEmpty()) return s;
    // Without a password file, libpq's own ~/.pgpass, PGPASSFILE and pg_service.conf apply.
    const QString passwordFile = ini.ReadString(Section, QStringLiteral("PasswordFile"), QString()).trimmed();
    if (passwordFile.isEmpty()) return s;
    QString path;
    const int fd = OpenBenchFile(iniFolder, QStringLiteral("password file"), passwordFile, true, &path, &s.problem);
    if (fd < 0) return s;
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        s.problem = QStringLiteral("the password file %1 cannot be read: %2").arg(path, file.errorString());
        return s;
    }
    server.password = QString::fromUtf8(file.readLine(4096)).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
    return s;
}
