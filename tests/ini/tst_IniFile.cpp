// Tests of the INI module: reading rules, byte-preserving writes, atomic save and write failures.
#include "AppError.h"
#include "IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

void PutFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray FileBytes(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QByteArray("<unreadable>");
    return f.readAll();
}

const QByteArray CrLfFile =
    "; Korvex station\r\n"
    "[Other]\r\n"
    "PowerID=999\r\n"
    "\r\n"
    "[Config]\r\n"
    "PowerID=41\r\n"
    "Interval=800\r\n"
    "; next: the printer\r\n"
    "\r\n"
    "[Printer]\r\n"
    "Name=lp0\r\n";

}  // namespace

class TestIniFile : public QObject {
    Q_OBJECT

private slots:
    void init();

    void writePreservesFile_data();
    void writePreservesFile();
    void newFileUsesCrLf();
    void writeTwiceReplacesInPlace();
    void readInteger_data();
    void readInteger();
    void readBool_data();
    void readBool();
    void readString_data();
    void readString();
    void longValueIsCut();
    void caseInsensitiveNames();
    void malformedFile();
    void lineBreakInValueStaysOneLine();
    void writeFailure_data();
    void writeFailure();
    void unreadableTargetIsNotOverwritten_data();
    void unreadableTargetIsNotOverwritten();

private:
    QTemporaryDir dir_;
    QString path_;
};

void TestIniFile::init()
{
    QVERIFY(dir_.isValid());
    path_ = dir_.filePath(QStringLiteral("Config.Ini"));
    QFile::remove(path_);
}

// Writes PowerID then Equality into `before` and expects exactly `after`.
void TestIniFile::writePreservesFile_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");

    QByteArray crlfAfter = CrLfFile;
    crlfAfter.replace("PowerID=41\r\nInterval=800\r\n", "PowerID=43\r\nInterval=800\r\nEquality=1\r\n");
    QTest::newRow("CR LF, comments, other sections, Interval") << CrLfFile << crlfAfter;

    QByteArray lf = CrLfFile;
    lf.replace("\r\n", "\n");
    QByteArray lfAfter = crlfAfter;
    lfAfter.replace("\r\n", "\n");
    QTest::newRow("LF stays LF") << lf << lfAfter;

    QTest::newRow("both keys present")
        << QByteArray("[Config]\r\nEquality=0\r\nPowerID=7\r\nInterval=500\r\n")
        << QByteArray("[Config]\r\nEquality=1\r\nPowerID=43\r\nInterval=500\r\n");
    QTest::newRow("blanks around = and names kept")
        << QByteArray("[ Config ]\n  PowerID = 7 \nEquality= 0\n")
        << QByteArray("[ Config ]\n  PowerID =43\nEquality=1\n");
    QTest::newRow("no final line ending")
        << QByteArray("[Config]\r\nPowerID=1")
        << QByteArray("[Config]\r\nPowerID=43\r\nEquality=1\r\n");
    QTest::newRow("section missing, file without final line ending")
        << QByteArray("[Other]\nA=1")
        << QByteArray("[Other]\nA=1\n[Config]\nPowerID=43\nEquality=1\n");
    QTest::newRow("empty file") << QByteArray() << QByteArray("[Config]\r\nPowerID=43\r\nEquality=1\r\n");
    QTest::newRow("key before any section is another key")
        << QByteArray("PowerID=5\r\n[Config]\r\n")
        << QByteArray("PowerID=5\r\n[Config]\r\nPowerID=43\r\nEquality=1\r\n");
    QTest::newRow("duplicate key: the first is replaced")
        << QByteArray("[Config]\nPowerID=1\nPowerID=2\n")
        << QByteArray("[Config]\nPowerID=43\nPowerID=2\nEquality=1\n");
    QTest::newRow("duplicate section: the first is used")
        << QByteArray("[Config]\nPowerID=1\n[Config]\nEquality=0\n")
        << QByteArray("[Config]\nPowerID=43\nEquality=1\n[Config]\nEquality=0\n");
    QTest::newRow("byte-order mark before the header")
        << QByteArray("\xEF\xBB\xBF[Config]\r\nPowerID=1\r\n")
        << QByteArray("\xEF\xBB\xBF[Config]\r\nPowerID=43\r\nEquality=1\r\n");
    QTest::newRow("non-UTF-8 comment bytes kept")
        << QByteArray("; \xB4\xAE\xBF\xDA\r\n[Config]\r\nPowerID=1\r\n")
        << QByteArray("; \xB4\xAE\xBF\xDA\r\n[Config]\r\nPowerID=43\r\nEquality=1\r\n");
}

void TestIniFile::writePreservesFile()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);

    PutFile(path_, before);
    IniFile ini(path_);
    ini.WriteInteger(QStringLiteral("Config"), QStringLiteral("PowerID"), 43);
    ini.WriteBool(QStringLiteral("Config"), QStringLiteral("Equality"), true);
    QCOMPARE(FileBytes(path_), after);

    QCOMPARE(ini.ReadInteger(QStringLiteral("Config"), QStringLiteral("PowerID"), 1), 43);
    QCOMPARE(ini.ReadBool(QStringLiteral("Config"), QStringLiteral("Equality"), false), true);
}

void TestIniFile::newFileUsesCrLf()
{
    IniFile ini(path_);
    ini.WriteInteger(QStringLiteral("Config"), QStringLiteral("PowerID"), 1);
    ini.WriteBool(QStringLiteral("Config"), QStringLiteral("Equality"), false);
    QCOMPARE(FileBytes(path_), QByteArray("[Config]\r\nPowerID=1\r\nEquality=0\r\n"));
    // Nothing of the temporary file is left beside it.
    QCOMPARE(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Config.Ini")});
}

void TestIniFile::writeTwiceReplacesInPlace()
{
    IniFile ini(path_);
    ini.WriteInteger(QStringLiteral("Config"), QStringLiteral("PowerID"), 41);
    ini.WriteInteger(QStringLiteral("Config"), QStringLiteral("PowerID"), -12);
    QCOMPARE(FileBytes(path_), QByteArray("[Config]\r\nPowerID=-12\r\n"));
}

void TestIniFile::readInteger_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("expected");

    // The default is 1 throughout.
    QTest::newRow("decimal") << QByteArray("41") << 41;
    QTest::newRow("0x10") << QByteArray("0x10") << 16;
    QTest::newRow("0X1f") << QByteArray("0X1f") << 31;
    QTest::newRow("$10") << QByteArray("$10") << 16;
    QTest::newRow("x1A") << QByteArray("x1A") << 26;
    QTest::newRow("-7") << QByteArray("-7") << -7;
    QTest::newRow("+7") << QByteArray("+7") << 7;
    QTest::newRow("blank before 12") << QByteArray(" 12") << 12;
    QTest::newRow("blanks around") << QByteArray("  12  ") << 12;
    QTest::newRow("smallest") << QByteArray("-2147483648") << int(-2147483647 - 1);
    QTest::newRow("abc") << QByteArray("abc") << 1;
    QTest::newRow("0x alone") << QByteArray("0x") << 1;
    QTest::newRow("0x then sign") << QByteArray("0x-5") << 1;
    QTest::newRow("0x then garbage") << QByteArray("0xZZ") << 1;
    QTest::newRow("2147483648") << QByteArray("2147483648") << 1;
    QTest::newRow("empty value") << QByteArray("") << 1;
    QTest::newRow("12abc") << QByteArray("12abc") << 1;
}

void TestIniFile::readInteger()
{
    QFETCH(QByteArray, value);
    QFETCH(int, expected);
    PutFile(path_, "[Config]\r\nPowerID=" + value + "\r\n");
    QCOMPARE(IniFile(path_).ReadInteger(QStringLiteral("Config"), QStringLiteral("PowerID"), 1), expected);
}

void TestIniFile::readBool_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("defaultValue");
    QTest::addColumn<bool>("expected");

    QTest::newRow("1") << QByteArray("[Config]\nEquality=1\n") << false << true;
    QTest::newRow("0") << QByteArray("[Config]\nEquality=0\n") << true << false;
    QTest::newRow("2 is true") << QByteArray("[Config]\nEquality=2\n") << false << true;
    QTest::newRow("-1 is true") << QByteArray("[Config]\nEquality=-1\n") << false << true;
    QTest::newRow("yes is the default, false") << QByteArray("[Config]\nEquality=yes\n") << false << false;
    QTest::newRow("yes is the default, true") << QByteArray("[Config]\nEquality=yes\n") << true << true;
    QTest::newRow("missing key") << QByteArray("[Config]\nPowerID=3\n") << true << true;
    QTest::newRow("no file") << QByteArray() << false << false;
}

void TestIniFile::readBool()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, defaultValue);
    QFETCH(bool, expected);
    if (!content.isEmpty()) PutFile(path_, content);
    QCOMPARE(IniFile(path_).ReadBool(QStringLiteral("Config"), QStringLiteral("Equality"), defaultValue), expected);
}

void TestIniFile::readString_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << QByteArray("[Config]\r\nName=abc\r\n") << "abc";
    QTest::newRow("value containing =") << QByteArray("[Config]\nName=a=b=c\n") << "a=b=c";
    QTest::newRow("blanks around name and value") << QByteArray("[Config]\n\t Name  =  a b  \n") << "a b";
    QTest::newRow("empty value is not the default") << QByteArray("[Config]\nName=\n") << "";
    QTest::newRow("first duplicate wins") << QByteArray("[Config]\nName=first\nName=second\n") << "first";
    QTest::newRow("first section wins")
        << QByteArray("[Config]\nOther=1\n[Config]\nName=second\n") << "<default>";
    QTest::newRow("key before any section") << QByteArray("Name=top\n[Config]\n") << "<default>";
    QTest::newRow("key of another section") << QByteArray("[Config]\n[Other]\nName=x\n") << "<default>";
    QTest::newRow("commented out") << QByteArray("[Config]\n;Name=x\n  ; Name=y\n") << "<default>";
    QTest::newRow("no section") << QByteArray("Name=x\n") << "<default>";
    QTest::newRow("lone CR inside a value") << QByteArray("[Config]\nName=a\rb\n") << "a\rb";
}

void TestIniFile::readString()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    PutFile(path_, content);
    QCOMPARE(IniFile(path_).ReadString(QStringLiteral("Config"), QStringLiteral("Name"), QStringLiteral("<default>")),
             expected);
}

void TestIniFile::longValueIsCut()
{
    const QByteArray value(3000, 'v');
    PutFile(path_, "[Config]\nName=" + value + "\n");
    const QString read = IniFile(path_).ReadString(QStringLiteral("Config"), QStringLiteral("Name"), QString());
    QCOMPARE(read.size(), 2047);
    QCOMPARE(read, QString(2047, QLatin1Char('v')));
}

void TestIniFile::caseInsensitiveNames()
{
    PutFile(path_, "[cONFIG]\r\npowerid=41\r\nEQUALITY=1\r\n");
    IniFile ini(path_);
    QCOMPARE(ini.ReadInteger(QStringLiteral("Config"), QStringLiteral("PowerID"), 1), 41);
    QCOMPARE(ini.ReadBool(QStringLiteral("config"), QStringLiteral("equality"), false), true);
    ini.WriteInteger(QStringLiteral("Config"), QStringLiteral("PowerID"), 42);
    QCOMPARE(FileBytes(path_), QByteArray("[cONFIG]\r\npowerid=42\r\nEQUALITY=1\r\n"));
}

void TestIniFile::malformedFile()
{
    const QByteArray before =
        "garbage without equals\n"
        "=no name\n"
        "[Broken\n"
        "\x01\x02\xFF\xFE\n"
        "[Config]\n"
        "junk line\n"
        "[Half\n"
        "PowerID=5\n"
        "]\n"
        "==\n";
    PutFile(path_, before);
    IniFile ini(path_);
    // "[Half" is not a header, so PowerID still belongs to Config.
    QCOMPARE(ini.ReadInteger(QStringLiteral("Config"), QStringLiteral("PowerID"), 1), 5);
    QCOMPARE(ini.ReadString(QStringLiteral("Broken"), QStringLiteral("PowerID"), QStringLiteral("d")), QStringLiteral("d"));

    ini.WriteInteger(QStringLiteral("Config"), QStringLiteral("PowerID"), 6);
    ini.WriteBool(QStringLiteral("Config"), QStringLiteral("Equality"), false);
    QByteArray after = before;
    after.replace("PowerID=5\n", "PowerID=6\nEquality=0\n");
    QCOMPARE(FileBytes(path_), after);
}

void TestIniFile::lineBreakInValueStaysOneLine()
{
    IniFile ini(path_);
    ini.WriteString(QStringLiteral("Config"), QStringLiteral("Name"), QStringLiteral("a\r\n[Evil]\nX=1"));
    QCOMPARE(FileBytes(path_), QByteArray("[Config]\r\nName=a  [Evil] X=1\r\n"));
    QCOMPARE(ini.ReadString(QStringLiteral("Evil"), QStringLiteral("X"), QStringLiteral("none")), QStringLiteral("none"));
}

void TestIniFile::writeFailure_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expectedPath");
    QTest::addColumn<QByteArray>("oldContent");

    const QByteArray old("[Config]\r\nPowerID=7\r\nInterval=800\r\n");

    // A regular file where the directory should be.
    QTest::newRow("directory is a file")
        << dir_.filePath(QStringLiteral("blocker/Config.Ini"))
        << dir_.filePath(QStringLiteral("blocker/Config.Ini")) << QByteArray();
    QTest::newRow("relative path reported in full")
        << QStringLiteral("blocker/Config.Ini")
        << QDir(dir_.path()).absoluteFilePath(QStringLiteral("blocker/Config.Ini")) << QByteArray();
    // The file name leaves no room for the temporary file beside it, so the save cannot even
    // begin while the old file is there and readable.
    const QString longName = dir_.filePath(QString(250, QLatin1Char('c')));
    QTest::newRow("no room for the temporary file") << longName << longName << old;
    if (::geteuid() != 0) {
        const QString locked = dir_.filePath(QStringLiteral("locked/Config.Ini"));
        QTest::newRow("read-only directory") << locked << locked << old;
    } else {
        // The bytes fit into the buffer of the write; only its flush meets the full disk.
        const QString full = dir_.filePath(QStringLiteral("full/Config.Ini"));
        QTest::newRow("full disk") << full << full << old;
    }
}

void TestIniFile::writeFailure()
{
    QFETCH(QString, path);
    QFETCH(QString, expectedPath);
    QFETCH(QByteArray, oldContent);

    PutFile(dir_.filePath(QStringLiteral("blocker")), "not a directory");
    const QString lockedDir = dir_.filePath(QStringLiteral("locked"));
    QDir().mkpath(lockedDir);
    QFile::setPermissions(lockedDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString fullDir = dir_.filePath(QStringLiteral("full"));
    const bool full = path.startsWith(fullDir);
    if (full) {
        QDir().mkpath(fullDir);
        if (QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                                       QStringLiteral("size=64k"), QStringLiteral("tmpfs"), fullDir}) != 0)
            QSKIP("root without the right to mount: no full disk can be made");
    }
    if (!oldContent.isEmpty()) PutFile(QDir(dir_.path()).absoluteFilePath(path), oldContent);
    QFile::setPermissions(lockedDir, QFile::ReadOwner | QFile::ExeOwner);
    if (full) {
        QFile filler(fullDir + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(4096, 'f')) > 0 && filler.flush()) {}
    }

    const QString savedCwd = QDir::currentPath();
    QDir::setCurrent(dir_.path());
    bool thrown = false;
    QString message;
    try {
        IniFile(path).WriteInteger(QStringLiteral("Config"), QStringLiteral("PowerID"), 8);
    } catch (const AppError& e) {
        thrown = true;
        message = e.message();
    }
    QDir::setCurrent(savedCwd);
    QFile::setPermissions(lockedDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    const QByteArray after = FileBytes(expectedPath);
    if (full) QProcess::execute(QStringLiteral("umount"), {fullDir});

    QVERIFY(thrown);
    QCOMPARE(message, QStringLiteral("Unable to write to ") + expectedPath);
    if (!oldContent.isEmpty()) QCOMPARE(after, oldContent);
}

void TestIniFile::unreadableTargetIsNotOverwritten_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("a directory") << "folder";
    // Opened as a file it would wait for a writer for ever.
    QTest::newRow("a FIFO") << "fifo";
    // Someone else's link would make the write replace whatever it points at.
    QTest::newRow("a link in a folder others may write") << "link";
    if (::geteuid() != 0) QTest::newRow("no right to read it") << "unreadable";
}

void TestIniFile::unreadableTargetIsNotOverwritten()
{
    QFETCH(QString, kind);
    const QString keep = dir_.filePath(QStringLiteral("keep"));
    PutFile(keep, "[Config]\r\nPowerID=41\r\n");
    if (kind == "folder") {
        QVERIFY(QDir().mkpath(path_));
    } else if (kind == "fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(path_).constData(), 0644), 0);
    } else if (kind == "link") {
        QVERIFY(QFile::setPermissions(dir_.path(), QFile::permissions(dir_.path()) | QFile::WriteGroup));
        QVERIFY(QFile::link(keep, path_));
    } else {
        PutFile(path_, "[Config]\r\nPowerID=41\r\n");
        QVERIFY(QFile::setPermissions(path_, QFile::WriteOwner));
    }
    IniFile ini(path_);
    QString why;
    QCOMPARE(ini.state(&why), FileState::Unreadable);
    QVERIFY2(why.startsWith(path_), qPrintable(why));
    QCOMPARE(ini.ReadInteger(QStringLiteral("Config"), QStringLiteral("PowerID"), 1), 1);
    QVERIFY_THROWS_EXCEPTION(AppError, ini.WriteInteger(QStringLiteral("Config"), QStringLiteral("PowerID"), 2));
    QCOMPARE(FileBytes(keep), QByteArray("[Config]\r\nPowerID=41\r\n"));
    QCOMPARE(QFileInfo(path_).isDir(), kind == "folder");
    QCOMPARE(QFileInfo(path_).isSymLink(), kind == "link");

    QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile::setPermissions(path_, QFile::ReadOwner | QFile::WriteOwner);
    if (kind == "folder") QVERIFY(QDir(path_).removeRecursively());
    QFile::remove(path_);
}

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_IniFile.moc"
