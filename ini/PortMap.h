// Which device file serves a numbered serial port.
#pragma once

#include <QString>

// Key "COM<n>" of section "Ports" in the INI file at iniPath (for example COM1=/dev/ttyUSB0),
// else "/dev/ttyS<n-1>". An unusable port number (below 1) gives an empty path, which no
// port opens. Only reads the file.
QString PortDevicePath(int portNumber, const QString& iniPath);
