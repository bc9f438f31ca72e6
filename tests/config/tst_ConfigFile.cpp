// Tests of Config.Ini: reading the counter and the read-timer period, writing PowerID and Equality.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <limits>

#include "AppError.h"
#include "ConfigFile.h"
#include "FakeClock.h"

class TestConfigFile : public QObject {
    Q_OBJECT

private slots:
    void exeDirEndsInSlash();
    void load_data();
    void load();
    void save_data();
    void save();
    void saveWithoutFileWritesThreeLines();
    void saveKeepsOtherLinesByteForByte();
    void equalityMovesTheNextStartOn();
    void unwritableFileThrows_data();
    void unwritableFileThrows();
    void resultsDatabasePath_data();
    void resultsDatabasePath();
    void dataDir_data();
    void dataDir();

private:
    static QByteArray ReadAll(const QString& path) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) return {};
        return f.readAll();
    }
    static void WriteAll(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(f.write(bytes), bytes.size());
    }
};

void TestConfigFile::exeDirEndsInSlash() {
    QCOMPARE(ExeDir(), QCoreApplication::applicationDirPath() + QLatin1Char('/'));
}

void TestConfigFile::load_data() {
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("counter");
    QTest::addColumn<int>("interval");

    QTest::newRow("no file") << false << QByteArray() << 1 << 500;
    QTest::newRow("empty file") << true << QByteArray() << 1 << 500;
    QTest::newRow("other section only") << true << QByteArray("[Ports]\r\nPowerID=9\r\n") << 1 << 500;
    QTest::newRow("41 with Equality 1")
        << true << QByteArray("[Config]\r\nPowerID=41\r\nEquality=1\r\n") << 42 << 500;
    QTest::newRow("41 with Equality 0")
        << true << QByteArray("[Config]\r\nPowerID=41\r\nEquality=0\r\n") << 41 << 500;
    QTest::newRow("hex 0x10") << true << QByteArray("[Config]\r\nPowerID=0x10\r\n") << 16 << 500;
    QTest::newRow("not a number") << true << QByteArray("[Config]\r\nPowerID=abc\r\n") << 1 << 500;
    QTest::newRow("Equality 2 is true")
        << true << QByteArray("[Config]\r\nPowerID=5\r\nEquality=2\r\n") << 6 << 500;
    QTest::newRow("Equality yes is false")
        << true << QByteArray("[Config]\r\nPowerID=5\r\nEquality=yes\r\n") << 5 << 500;
    QTest::newRow("names ignore case")
        << true << QByteArray("[CONFIG]\r\npowerid=7\r\nINTERVAL=900\r\n") << 7 << 900;
    QTest::newRow("Interval 800") << true << QByteArray("[Config]\r\nInterval=800\r\n") << 1 << 800;
    QTest::newRow("Interval 0") << true << QByteArray("[Config]\r\nInterval=0\r\n") << 1 << 500;
    QTest::newRow("Interval negative") << true << QByteArray("[Config]\r\nInterval=-20\r\n") << 1 << 500;
    QTest::newRow("Interval 70000") << true << QByteArray("[Config]\r\nInterval=70000\r\n") << 1 << 60000;
    QTest::newRow("Interval 60000") << true << QByteArray("[Config]\r\nInterval=60000\r\n") << 1 << 60000;
    QTest::newRow("Interval 1") << true << QByteArray("[Config]\r\nInterval=1\r\n") << 1 << 1;
    QTest::newRow("Interval garbage") << true << QByteArray("[Config]\r\nInterval=fast\r\n") << 1 << 500;
    QTest::newRow("counter wraps at the top")
        << true << QByteArray("[Config]\r\nPowerID=2147483647\r\nEquality=1\r\n")
        << std::numeric_limits<int>::min() << 500;
}

void TestConfigFile::load() {
    QFETCH(bool, exists);
    QFETCH(QByteArray, content);
    QFETCH(int, counter);
    QFETCH(int, interval);

    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("Config.Ini"));
    if (exists) WriteAll(ini, content);

    FakeClock clock;
    auto timer = clock.createTimer();
    timer->setInterval(12345);
    TRunState state;
    state.FUnitCounter = -77;
    const StoredConfig stored = ReadConfig(ini);
    state.FUnitCounter = stored.unitCounter;
    timer->setInterval(stored.readIntervalMs);

    QCOMPARE(state.FUnitCounter, counter);
    QCOMPARE(timer->interval(), interval);
    QVERIFY(!timer->isActive());
    // Reading never creates or changes the file.
    QCOMPARE(QFile::exists(ini), exists);
    if (exists) QCOMPARE(ReadAll(ini), content);
}

void TestConfigFile::save_data() {
    QTest::addColumn<int>("counter");
    QTest::addColumn<uint>("readSerial");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("supply without serial")
        << 43 << 0u << QByteArray("[Config]\r\nPowerID=43\r\nEquality=0\r\n");
    QTest::newRow("supply carried the counter")
        << 42 << 42u << QByteArray("[Config]\r\nPowerID=42\r\nEquality=1\r\n");
    QTest::newRow("supply carried another number")
        << 42 << 17u << QByteArray("[Config]\r\nPowerID=42\r\nEquality=0\r\n");
    QTest::newRow("above 16 bits compares whole")
        << 70000 << 70000u << QByteArray("[Config]\r\nPowerID=70000\r\nEquality=1\r\n");
    QTest::newRow("low 16 bits alone do not match")
        << 65578 << 42u << QByteArray("[Config]\r\nPowerID=65578\r\nEquality=0\r\n");
    QTest::newRow("negative counter") << -3 << 0u << QByteArray("[Config]\r\nPowerID=-3\r\nEquality=0\r\n");
}

void TestConfigFile::save() {
    QFETCH(int, counter);
    QFETCH(uint, readSerial);
    QFETCH(QByteArray, expected);

    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("Config.Ini"));
    TRunState state;
    state.FUnitCounter = counter;
    state.FReadSerial = readSerial;
    SaveConfig(state, ini);
    QCOMPARE(ReadAll(ini), expected);
}

void TestConfigFile::saveWithoutFileWritesThreeLines() {
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("Config.Ini"));
    FakeClock clock;
    auto timer = clock.createTimer();
    TRunState state;
    const StoredConfig stored = ReadConfig(ini);
    state.FUnitCounter = stored.unitCounter;
    timer->setInterval(stored.readIntervalMs);
    SaveConfig(state, ini);
    QCOMPARE(ReadAll(ini), QByteArray("[Config]\r\nPowerID=1\r\nEquality=0\r\n"));
}

void TestConfigFile::saveKeepsOtherLinesByteForByte() {
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("Config.Ini"));
    WriteAll(
        ini,
        "[Ports]\r\nCOM1=/dev/pts/3\r\n[Config]\r\nPowerID=5\r\nInterval=800\r\nEquality=1\r\n; note\r\n");

    FakeClock clock;
    auto timer = clock.createTimer();
    TRunState state;
    const StoredConfig stored = ReadConfig(ini);
    state.FUnitCounter = stored.unitCounter;
    timer->setInterval(stored.readIntervalMs);
    QCOMPARE(state.FUnitCounter, 6);
    QCOMPARE(timer->interval(), 800);

    SaveConfig(state, ini);
    QCOMPARE(ReadAll(ini),
             QByteArray("[Ports]\r\nCOM1=/dev/pts/"
                        "3\r\n[Config]\r\nPowerID=6\r\nInterval=800\r\nEquality=0\r\n; note\r\n"));
}

void TestConfigFile::equalityMovesTheNextStartOn() {
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("Config.Ini"));
    TRunState state;
    state.FUnitCounter = 42;
    state.FReadSerial = 42;
    SaveConfig(state, ini);

    FakeClock clock;
    auto timer = clock.createTimer();
    TRunState next;
    const StoredConfig stored = ReadConfig(ini);
    next.FUnitCounter = stored.unitCounter;
    timer->setInterval(stored.readIntervalMs);
    QCOMPARE(next.FUnitCounter, 43);
}

void TestConfigFile::unwritableFileThrows_data() {
    QTest::addColumn<QString>("relative");
    QTest::addColumn<bool>("makeDirectory");
    // Paths no user can write to, root included: a directory in the file's place, and a file in
    // place of a directory on the way.
    QTest::newRow("a directory named Config.Ini") << QStringLiteral("Config.Ini") << true;
    QTest::newRow("a file in the way") << QStringLiteral("plain/Config.Ini") << false;
}

void TestConfigFile::unwritableFileThrows() {
    QFETCH(QString, relative);
    QFETCH(bool, makeDirectory);

    QTemporaryDir dir;
    const QString ini = dir.filePath(relative);
    if (makeDirectory)
        QVERIFY(QDir().mkpath(ini));
    else
        WriteAll(dir.filePath(QStringLiteral("plain")), "x");

    TRunState state;
    state.FUnitCounter = 9;
    QString message;
    try {
        SaveConfig(state, ini);
    } catch (const AppError& e) {
        message = e.message();
    }
    QCOMPARE(message, QStringLiteral("Unable to write to %1").arg(ini));
}

void TestConfigFile::resultsDatabasePath_data() {
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("expected");  // relative to the folder of Config.Ini, or absolute
    // Whether a Config.Ini in a folder others may write may not name it.
    QTest::addColumn<bool>("outside");
    QTest::newRow("no file") << QByteArray() << "PowerTestDb.sqlite" << false;
    QTest::newRow("no Results section") << QByteArray("[Config]\r\nPowerID=5\r\n") << "PowerTestDb.sqlite" << false;
    QTest::newRow("empty key") << QByteArray("[Results]\r\nDatabase=  \r\n") << "PowerTestDb.sqlite" << false;
    QTest::newRow("relative") << QByteArray("[results]\r\ndatabase=line.sqlite\r\n") << "line.sqlite" << false;
    QTest::newRow("relative upwards") << QByteArray("[Results]\r\nDatabase=../x.sqlite\r\n") << "../x.sqlite" << true;
    QTest::newRow("absolute") << QByteArray("[Results]\r\nDatabase=/var/lib/korvex/r.sqlite\r\n")
                              << "/var/lib/korvex/r.sqlite" << true;
    // Inside by its name, outside by where the link in the way points.
    QTest::newRow("through a link") << QByteArray("[Results]\r\nDatabase=home/notes.txt\r\n") << "home/notes.txt" << true;
}

void TestConfigFile::resultsDatabasePath() {
    QFETCH(QByteArray, ini);
    QFETCH(QString, expected);
    QFETCH(bool, outside);
    QTemporaryDir dir;
    QTemporaryDir home;
    QVERIFY(QFile::link(home.path(), dir.filePath(QStringLiteral("home"))));
    const QString iniPath = dir.filePath(QStringLiteral("Config.Ini"));
    if (!ini.isEmpty()) WriteAll(iniPath, ini);
    const QString want = expected.startsWith(QLatin1Char('/')) ? expected : QDir::cleanPath(dir.filePath(expected));
    QString problem;
    QCOMPARE(ResultsDatabasePath(iniPath, &problem), want);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QVERIFY(QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::WriteGroup));
    QCOMPARE(ResultsDatabasePath(iniPath, &problem), want);
    QCOMPARE(!problem.isEmpty(), outside);
}

void TestConfigFile::dataDir_data() {
    QTest::addColumn<QString>("exe");        // relative to a temporary root
    QTest::addColumn<QString>("installed");  // the installed program's folder
    QTest::addColumn<bool>("shared");
    QTest::newRow("portable folder") << "bench/calibrator" << "usr/bin" << false;
    QTest::newRow("the installed program") << "usr/bin" << "usr/bin" << true;
    QTest::newRow("reached through a link") << "link-to-bin" << "usr/bin" << true;
    QTest::newRow("a build beside an installation") << "usr/src/build/shell" << "usr/bin" << false;
    QTest::newRow("nothing installed") << "bench/calibrator" << "opt/none/bin" << false;
}

void TestConfigFile::dataDir() {
    QFETCH(QString, exe);
    QFETCH(QString, installed);
    QFETCH(bool, shared);
    QTemporaryDir root;
    QDir(root.path()).mkpath(QStringLiteral("usr/bin"));
    QDir(root.path()).mkpath(QStringLiteral("usr/src/build/shell"));
    QDir(root.path()).mkpath(QStringLiteral("bench/calibrator"));
    QVERIFY(QFile::link(root.filePath(QStringLiteral("usr/bin")), root.filePath(QStringLiteral("link-to-bin"))));
    const QString sharedDir = QStringLiteral("/var/lib/korvex-calibrator");
    const QString got = DataDirFor(root.filePath(exe), root.filePath(installed), sharedDir);
    QCOMPARE(got, shared ? sharedDir + QLatin1Char('/') : root.filePath(exe) + QLatin1Char('/'));
}

QTEST_GUILESS_MAIN(TestConfigFile)
#include "tst_ConfigFile.moc"
