// Fuzz target for the INI reader and writer: any file is read without harm, a key written reads
// back as written, and writing it once more changes nothing.
#include "AppError.h"
#include "IniFile.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <cstdlib>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // On a memory file system where there is one: the target writes a file per input.
    const QString folder = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    const QString path = QStringLiteral("%1/korvex-fuzz-ini-%2.ini").arg(folder).arg(::getpid());
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 0;
        f.write(bytes);
    }
    IniFile ini(path);
    (void)ini.ReadString(QStringLiteral("Config"), QStringLiteral("PowerID"), QStringLiteral("1"));
    (void)ini.ReadInteger(QStringLiteral("Config"), QStringLiteral("Interval"), 500);
    (void)ini.ReadBool(QStringLiteral("Config"), QStringLiteral("Equality"), false);
    (void)ini.ReadString(QStringLiteral("Ports"), QStringLiteral("COM1"), QString());

    const int value = static_cast<int>(size * 7919 % 100000);
    try {
        ini.WriteInteger(QStringLiteral("Config"), QStringLiteral("PowerID"), value);
    } catch (const AppError&) {
        QFile::remove(path);
        return 0;
    }
    if (ini.ReadInteger(QStringLiteral("Config"), QStringLiteral("PowerID"), -1) != value) std::abort();
    // A second write of the same key changes nothing more.
    QFile f(path);
    QByteArray once;
    if (f.open(QIODevice::ReadOnly)) once = f.readAll();
    f.close();
    ini.WriteInteger(QStringLiteral("Config"), QStringLiteral("PowerID"), value);
    QByteArray twice;
    if (f.open(QIODevice::ReadOnly)) twice = f.readAll();
    if (once != twice) std::abort();
    QFile::remove(path);
    return 0;
}
