// The [Database] section of Config.Ini, read once at start.
#include "LineSettings.h"

#include "IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString Section = QStringLiteral("Database");

}  // namespace

QString ReadPasswordFile(const QString& path, QString* problem)
{
    struct stat st {};
    const QByteArray native = QFile::encodeName(path);
    if (::stat(native.constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        *problem = QStringLiteral("the password file %1 does not exist").arg(path);
        return QString();
    }
    if (st.st_uid != ::geteuid()) {
        *problem = QStringLiteral("the password file %1 belongs to another user").arg(path);
        return QString();
    }
    if ((st.st_mode & 077) != 0) {
        *problem = QStringLiteral("the password file %1 may be read by others (mode %2); only its owner may (chmod 600)")
                       .arg(path)
                       .arg(st.st_mode & 0777, 4, 8, QLatin1Char('0'));
        return QString();
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = QStringLiteral("the password file %1 cannot be read: %2").arg(path, file.errorString());
        return QString();
    }
    const QByteArray line = file.readLine(4096);
    return QString::fromUtf8(line).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
}

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
    server.sslMode = ini.ReadString(Section, QStringLiteral("SslMode"), server.sslMode).trimmed();
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
    if (!ini.ReadString(Section, QStringLiteral("Password"), QString()).isEmpty()) {
        // Config.Ini is read by every operator of the bench; a password there is everyone's.
        s.problem = QStringLiteral("[Database] holds a Password; it belongs in a PasswordFile only its owner may read");
        return s;
    }
    const QString passwordFile = ini.ReadString(Section, QStringLiteral("PasswordFile"), QString()).trimmed();
    if (!passwordFile.isEmpty()) {
        const QString path = QDir(QFileInfo(iniPath).absolutePath()).absoluteFilePath(passwordFile);
        server.password = ReadPasswordFile(path, &s.problem);
    }
    // Without a password file, libpq's own ~/.pgpass, PGPASSFILE and pg_service.conf apply.
    return s;
}
