// How the bench multimeter is reached and read, from section [Meter] of Config.Ini.
#include "MeterSettings.h"

#include "IniFile.h"
#include "PortMap.h"

#include <QRegularExpression>

namespace {

const QString Section = QStringLiteral("Meter");
constexpr double DefaultPlausibility = 0.10;
const QRegularExpression ComPort(QStringLiteral("^COM([0-9]+)$"), QRegularExpression::CaseInsensitiveOption);

double Percent(const IniFile& ini, const QString& key, double fallback)
{
    bool ok = false;
    const double value = ini.ReadString(Section, key, QString()).trimmed().toDouble(&ok);
    return ok && value >= 0.0 && value <= 1000.0 ? value / 100.0 : fallback;
}

QByteArray Query(const IniFile& ini, const QString& key, const QByteArray& fallback)
{
    const QString text = ini.ReadString(Section, key, QString()).trimmed();
    return text.isEmpty() ? fallback : text.toLatin1();
}

// An IPv6 address before a port is written in brackets, so that its own colons stay its own.
QString HostAndPort(const QString& host, quint16 port)
{
    return (host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]:%2") : QStringLiteral("%1:%2")).arg(host).arg(port);
}

}  // namespace

QString MeterHostName(const QString& typed)
{
    const QString host = typed.trimmed();
    return host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')) ? host.mid(1, host.size() - 2) : host;
}

QString MeterSettings::describe() const
{
    switch (connection) {
        case Connection::Serial: return QStringLiteral("serial %1 at %2 baud").arg(port).arg(baud);
        case Connection::Tcp: return QStringLiteral("TCP ") + HostAndPort(host, tcpPort);
        case Connection::Sigrok:
            return QStringLiteral("libsigrok ") + driver + (conn.isEmpty() ? QString() : QStringLiteral(" on ") + conn) +
                   (serialComm.isEmpty() ? QString() : QStringLiteral(" at ") + serialComm);
        case Connection::None: break;
    }
    return QStringLiteral("none");
}

MeterSettings LoadMeterSettings(const QString& iniPath)
{
    const IniFile ini(iniPath);
    MeterSettings s;
    const QString kind = ini.ReadString(Section, QStringLiteral("Connection"), QString()).trimmed().toLower();
    if (kind == QLatin1String("serial")) {
        s.port = ini.ReadString(Section, QStringLiteral("Port"), QString()).trimmed();
        if (!s.port.isEmpty()) s.connection = MeterSettings::Connection::Serial;
    } else if (kind == QLatin1String("tcp")) {
        QString host = ini.ReadString(Section, QStringLiteral("Host"), QString()).trimmed();
        // "[addr]:port" or "[addr]"; without brackets the last colon starts the port, which is
        // also how an IPv6 address was once written before its port.
        const int close = host.startsWith(QLatin1Char('[')) ? host.indexOf(QLatin1Char(']')) : -1;
        int colon = host.lastIndexOf(QLatin1Char(':'));
        if (close > 0 && colon != close + 1) colon = -1;
        if (colon > 0) {
            bool ok = false;
            const uint port = host.mid(colon + 1).toUInt(&ok);
            if (ok && port > 0 && port < 65536) s.tcpPort = static_cast<quint16>(port);
            host.truncate(colon);
        }
        s.host = MeterHostName(host);
        if (!s.host.isEmpty()) s.connection = MeterSettings::Connection::Tcp;
    }
    s.driver = ini.ReadString(Section, QStringLiteral("Driver"), QString()).trimmed();
    s.conn = ini.ReadString(Section, QStringLiteral("Conn"), QString()).trimmed();
    s.serialComm = ini.ReadString(Section, QStringLiteral("SerialComm"), QString()).trimmed();
    // A USB meter is found without a connection; without a driver nothing can be.
    if (kind == QLatin1String("sigrok") && !s.driver.isEmpty()) s.connection = MeterSettings::Connection::Sigrok;
    const int baud = ini.ReadInteger(Section, QStringLiteral("Baud"), 9600);
    if (baud > 0) s.baud = baud;
    const QString end = ini.ReadString(Section, QStringLiteral("LineEnd"), QStringLiteral("lf")).trimmed().toLower();
    if (end == QLatin1String("crlf")) s.lineEnd = "\r\n";
    else if (end == QLatin1String("cr")) s.lineEnd = "\r";
    const int timeout = ini.ReadInteger(Section, QStringLiteral("TimeoutMs"), 3000);
    if (timeout >= 100 && timeout <= 60000) s.timeoutMs = timeout;
    s.voltageQuery = Query(ini, QStringLiteral("VoltageQuery"), QByteArray());
    s.currentQuery = Query(ini, QStringLiteral("CurrentQuery"), s.currentQuery);
    s.settleShare = Percent(ini, QStringLiteral("SettleTolerance"), s.settleShare);
    const int reads = ini.ReadInteger(Section, QStringLiteral("MaxReads"), 5);
    if (reads >= 1 && reads <= 50) s.maxReads = reads;
    // Also for typed readings: what a meter on millivolts shows, typed as volts, would otherwise be
    // written into the supply a thousand times too high. A reading in the band asks nothing.
    s.plausibilityShare = Percent(ini, QStringLiteral("Plausibility"), DefaultPlausibility);
    s.assetId = ini.ReadString(Section, QStringLiteral("AssetId"), QString()).trimmed();
    s.calibrationDue = ini.ReadString(Section, QStringLiteral("CalibrationDue"), QString()).trimmed();
    s.accuracy = ini.ReadString(Section, QStringLiteral("Accuracy"), QString()).trimmed();
    return s;
}

QString MeterDevicePath(const MeterSettings& settings, const QString& iniPath)
{
    const QString& port = settings.connection == MeterSettings::Connection::Sigrok ? settings.conn : settings.port;
    const auto m = ComPort.match(port);
    if (m.hasMatch()) return PortDevicePath(m.captured(1).toInt(), iniPath);
    return port;
}

void SaveMeterSettings(const MeterSettings& settings, const QString& iniPath)
{
    const char* kind = settings.connection == MeterSettings::Connection::Serial   ? "serial"
                       : settings.connection == MeterSettings::Connection::Tcp    ? "tcp"
                       : settings.connection == MeterSettings::Connection::Sigrok ? "sigrok"
                                                                                  : "none";
    // Percent as typed: 0.05, not 0.049999999999999996.
    auto percent = [](double share) { return QString::number(share * 100.0, 'g', 10); };
    // One replacement of the file: a meter set up by halves would read the wrong quantity.
    IniFile(iniPath).WriteStrings(
        Section,
        {{QStringLiteral("Connection"), QString::fromLatin1(kind)},
         {QStringLiteral("Port"), settings.port},
         {QStringLiteral("Baud"), QString::number(settings.baud)},
         {QStringLiteral("Host"), settings.host.isEmpty() ? QString() : HostAndPort(settings.host, settings.tcpPort)},
         {QStringLiteral("Driver"), settings.driver},
         {QStringLiteral("Conn"), settings.conn},
         {QStringLiteral("SerialComm"), settings.serialComm},
         {QStringLiteral("LineEnd"), settings.lineEnd == "\r\n" ? QStringLiteral("crlf")
                                     : settings.lineEnd == "\r" ? QStringLiteral("cr")
                                                                 : QStringLiteral("lf")},
         {QStringLiteral("AssetId"), settings.assetId},
         {QStringLiteral("CalibrationDue"), settings.calibrationDue},
         {QStringLiteral("Accuracy"), settings.accuracy},
         {QStringLiteral("Plausibility"), percent(settings.plausibilityShare)},
         {QStringLiteral("SettleTolerance"), percent(settings.settleShare)},
         {QStringLiteral("MaxReads"), QString::number(settings.maxReads)}});
}
