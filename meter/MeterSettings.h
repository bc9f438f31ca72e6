// How the bench multimeter is reached and read, from section [Meter] of Config.Ini.
#pragma once

#include <QByteArray>
#include <QString>

struct MeterSettings {
    enum class Connection { None, Serial, Tcp, Sigrok };
    Connection connection = Connection::None;

    // Serial: a device path, or COMn through the [Ports] mapping.
    QString port;
    int baud = 9600;
    // TCP: raw SCPI, port 5025 unless said otherwise.
    QString host;
    quint16 tcpPort = 5025;
    // libsigrok: the driver's name (fluke-dmm), the connection as the library takes it (a serial
    // device, COMn through [Ports], a USB id such as 1a86.e008) and, if given, the serial settings
    // (115200/8n1); without them the driver tries its own.
    QString driver;
    QString conn;
    QString serialComm;
    // What ends a query and an answer.
    QByteArray lineEnd = "\n";

    int timeoutMs = 3000;
    // The query of each quantity; an empty voltage query means the calibration list's own.
    QByteArray voltageQuery;
    QByteArray currentQuery = "MEAS:CURR:DC?";
    // Settling: two consecutive readings within this share of the reading, at most maxReads reads.
    double settleShare = 0.0005;
    int maxReads = 5;

    // How far a reading may lie from its point's level (0.10 = 10 %); 0 turns the check off.
    double plausibilityShare = 0.0;

    // The meter at hand, whether the program reads it or the operator does: its asset number and
    // the date its own calibration runs out (yyyy-MM-dd), as written; both for the certificate.
    QString assetId;
    QString calibrationDue;
    // The meter's accuracy as its datasheet gives it, per function and range ("DCV=0.025%+2;
    // DCA=0.15%+2"), as entered; empty: the readings' uncertainty is not evaluated.
    QString accuracy;

    bool enabled() const { return connection != Connection::None; }
    // "serial /dev/ttyUSB1 at 9600 baud", "TCP 192.168.1.20:5025", "TCP [::1]:5025",
    // "libsigrok fluke-dmm on /dev/ttyUSB0 at 115200/8n1", "none".
    QString describe() const;
};

// A host as typed: an IPv6 address may come in brackets, as it is written before a port.
QString MeterHostName(const QString& typed);

// Keys of [Meter]: Connection (none, serial, tcp, sigrok), Driver, Conn, SerialComm, Port, Baud, Host (host, host:port, [IPv6]:port), LineEnd
// (lf, crlf, cr), TimeoutMs, VoltageQuery, CurrentQuery, SettleTolerance (percent), MaxReads,
// Plausibility (percent; 10 unless given, 0 turns the check off), AssetId and
// CalibrationDue (yyyy-MM-dd), Accuracy. Unusable values give the defaults; a missing section means no meter.
MeterSettings LoadMeterSettings(const QString& iniPath);
// Writes how the meter is reached (Connection, Port, Baud, Host, LineEnd, Driver, Conn, SerialComm)
// and the bench's keys (AssetId, CalibrationDue, Accuracy, Plausibility, SettleTolerance, MaxReads) into
// [Meter] in one replacement of the file; the other keys and sections stay as they are. Throws
// AppError when the file cannot be written.
void SaveMeterSettings(const MeterSettings& settings, const QString& iniPath);
// The device a serial meter's Port (a libsigrok meter's Conn) names: COMn through [Ports],
// anything else as it stands.
QString MeterDevicePath(const MeterSettings& settings, const QString& iniPath);
