// Maps the settings' port numbers onto Linux serial device files.
#include "PortMap.h"

#include "IniFile.h"

QString PortDevicePath(int portNumber, const QString& iniPath)
{
    if (portNumber < 1) return QString();
    const QString mapped =
        IniFile(iniPath).ReadString(QStringLiteral("Ports"), QStringLiteral("COM%1").arg(portNumber), QString());
    if (!mapped.isEmpty()) return mapped;
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
}
