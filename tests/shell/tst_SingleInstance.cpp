// Tests of the single-instance rule: in-process over private names, and with real program starts.
#include <grp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <cstring>
#include <memory>
#include <vector>

#include "SingleInstance.h"

namespace {

bool SendRaw(const QString& name, const QByteArray& bytes) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(2000)) return false;
    socket.write(bytes);
    while (socket.bytesToWrite() > 0)
        if (!socket.waitForBytesWritten(2000)) return false;
    socket.disconnectFromServer();
    return true;
}

enum Hold { Listening, Full, Bound };  // how another user's process holds a name

}  // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void secondClaimAsksTheFirst();
    void onlyTheRestoreMessageCounts_data();
    void onlyTheRestoreMessageCounts();
    void silentConnectionIsDropped();
    void otherUserIsRefused();

    void secondStartEndsAtOnce_data();
    void secondStartEndsAtOnce();
    void startAfterKilledInstance();
    void twentySimultaneousStartsLeaveOne();
    void garbageDoesNotHurtTheRunningProgram();
    void commandLineAnsweredWithoutStarting_data();
    void commandLineAnsweredWithoutStarting();

private:
    QString makeCopy(const QString& dir) const;
    QProcess* start(const QString& dir);
    bool waitUntilPrimary(QProcess* process, const QString& dir);
    bool holdAsNobody(int names, Hold how);
    QList<SingleInstance::Place> place(const char* in) const { return {{root_->filePath(QLatin1String(in)), "korvex-calibrator"}}; }

    QString exe_;
    // The test's own temporary, runtime and home folders: its calibrators meet no others.
    std::unique_ptr<QTemporaryDir> root_;
    QProcessEnvironment env_;
    std::vector<std::unique_ptr<QProcess>> processes_;
    std::vector<std::unique_ptr<QTemporaryDir>> dirs_;
    pid_t holder_ = -1;
};

void TestSingleInstance::initTestCase() {
    exe_ = QStringLiteral(KORVEX_EXE);
    QVERIFY2(QFile::exists(exe_), qPrintable(exe_));
}

void TestSingleInstance::init() {
    root_ = std::make_unique<QTemporaryDir>();
    QVERIFY(QProcess::execute("chmod", {"1777", root_->path()}) == 0 && QDir(root_->path()).mkpath("run") && QDir(root_->path()).mkpath("home"));
    env_ = QProcessEnvironment::systemEnvironment();
    env_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), root_->filePath(QStringLiteral("run")));
    env_.insert(QStringLiteral("TMPDIR"), root_->path());
    env_.insert(QStringLiteral("HOME"), root_->filePath(QStringLiteral("home")));
}

void TestSingleInstance::cleanup() {
    for (auto& p : processes_) {
        if (p->state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(p->processId()), SIGKILL);
            p->waitForFinished(5000);
        }
    }
    processes_.clear();
    dirs_.clear();
    if (holder_ > 0 && ::kill(holder_, SIGKILL) == 0) waitpid(holder_, nullptr, 0);
    holder_ = -1;
}

QString TestSingleInstance::makeCopy(const QString& dir) const {
    const QString target = dir + QStringLiteral("/korvex-calibrator");
    // A hard link keeps the executable's own directory (symbolic links would be resolved).
    if (::link(QFile::encodeName(exe_).constData(), QFile::encodeName(target).constData()) != 0)
        QFile::copy(exe_, target);
    return target;
}

QProcess* TestSingleInstance::start(const QString& dir) {
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(env_);
    process->setWorkingDirectory(dir);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->start(makeCopy(dir), {});
    QProcess* raw = process.get();
    processes_.push_back(std::move(process));
    return raw;
}

bool TestSingleInstance::waitUntilPrimary(QProcess* process, const QString& dir) {
    // Only the instance that owns the name goes on to create its work directory.
    return QTest::qWaitFor(
               [&] {
                   return QFileInfo(dir + QStringLiteral("/Temp")).isDir() ||
                          process->state() == QProcess::NotRunning;
               },
               20000) &&
           process->state() == QProcess::Running;
}

// A child of user nobody holds the first names until cleanup (or this test's end) kills it.
bool TestSingleInstance::holdAsNobody(int names, Hold how) {
    const QByteArray base = "korvex-" + MainWindowClass().left(22).toHex() + '-' + QByteArray::number(geteuid());
    QByteArrayList bytes;
    for (int i = 0; i < names; ++i) bytes << (i == 0 ? base : base + '-' + QByteArray::number(i));
    int ready[2];
    if (::pipe(ready) != 0) return false;
    const pid_t child = fork();
    if (child == 0) {
        // Plain system calls only: the child of a threaded process may do nothing more.
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        for (const QByteArray& name : bytes) {
            sockaddr_un address{AF_UNIX, {}};
            std::memcpy(address.sun_path + 1, name.constData(), static_cast<size_t>(name.size()));
            const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
            const auto* to = reinterpret_cast<const sockaddr*>(&address);
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            const int bound = ::bind(fd, to, length);
            if (bound != 0 && errno == EADDRINUSE) continue;  // held by someone already
            if (bound != 0 || (how != Bound && ::listen(fd, 0) != 0)) _exit(2);
            // A backlog of none is full with the one connection it never accepts: nobody can connect.
            const int client = how == Full ? ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0) : -1;
            if (how == Full && ::connect(client, to, length) != 0) _exit(2);
        }
        if (::write(ready[1], "!", 1) != 1) _exit(4);
        for (;;) ::pause();
    }
    ::close(ready[1]);
    holder_ = child;
    // A child that gave up closes its end of the pipe with it.
    char byte = 0;
    const bool holding = child > 0 && ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    return holding;
}

void TestSingleInstance::secondClaimAsksTheFirst() {
    SingleInstance first(place("run"));
    QSignalSpy restored(&first, &SingleInstance::restoreRequested);
    QCOMPARE(first.Claim(), SingleInstance::Role::Primary);
    QVERIFY(first.isListening());

    SingleInstance second(place("run"));
    QCOMPARE(second.Claim(), SingleInstance::Role::Secondary);
    QVERIFY(!second.isListening());
    QTRY_COMPARE(restored.size(), 1);

    // The name is free again as soon as its owner is gone.
    SingleInstance* owner = new SingleInstance(place("home"));
    QCOMPARE(owner->Claim(), SingleInstance::Role::Primary);
    delete owner;
    SingleInstance next(place("home"));
    QCOMPARE(next.Claim(), SingleInstance::Role::Primary);
}

void TestSingleInstance::onlyTheRestoreMessageCounts_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("restores");
    QTest::newRow("restore") << SingleInstance::EncodeMessage(0x7EA, 0, 0) << 1;
    QTest::newRow("restore with trailing bytes")
        << SingleInstance::EncodeMessage(0x7EA, 0, 0) + QByteArray(50, 'z') << 1;
    QTest::newRow("other message") << SingleInstance::EncodeMessage(0x7EB, 0, 0) << 0;
    QTest::newRow("wParam set") << SingleInstance::EncodeMessage(0x7EA, 1, 0) << 0;
    QTest::newRow("lParam set") << SingleInstance::EncodeMessage(0x7EA, 0, 0x80000000u) << 0;
    QByteArray badTag = SingleInstance::EncodeMessage(0x7EA, 0, 0);
    badTag[0] = 'Q';
    QTest::newRow("wrong tag") << badTag << 0;
    QTest::newRow("short") << SingleInstance::EncodeMessage(0x7EA, 0, 0).left(15) << 0;
    QTest::newRow("nothing") << QByteArray() << 0;
    QTest::newRow("garbage") << QByteArray(4096, '\xff') << 0;
    QTest::newRow("text") << QByteArray("WM_RESTORE_INSTANCE\n") << 0;
}

void TestSingleInstance::onlyTheRestoreMessageCounts() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, restores);

    SingleInstance owner(place("run"));
    QCOMPARE(owner.Claim(), SingleInstance::Role::Primary);
    QSignalSpy restored(&owner, &SingleInstance::restoreRequested);

    QVERIFY(SendRaw(owner.socketPath(), bytes));
    // A proper message afterwards marks the point by which the first one has been dealt with.
    QVERIFY(SingleInstance::PostInstanceMessage(owner.socketPath(), WM_RESTORE_INSTANCE, 0, 0));
    QTRY_COMPARE(restored.size(), restores + 1);
    QTest::qWait(50);
    QCOMPARE(restored.size(), restores + 1);
    QVERIFY(owner.isListening());
}

void TestSingleInstance::silentConnectionIsDropped() {
    SingleInstance owner(place("run"));
    QCOMPARE(owner.Claim(), SingleInstance::Role::Primary);
    QLocalSocket idle;
    idle.connectToServer(owner.socketPath());
    QVERIFY(idle.waitForConnected(2000));
    idle.write("KV");
    QVERIFY(idle.waitForBytesWritten(2000));
    QTRY_COMPARE_WITH_TIMEOUT(idle.state(), QLocalSocket::UnconnectedState, 6000);
}

void TestSingleInstance::otherUserIsRefused() {
    if (geteuid() != 0) QSKIP("needs root to connect as another user");
    SingleInstance owner(place("run"));
    QCOMPARE(owner.Claim(), SingleInstance::Role::Primary);
    QSignalSpy restored(&owner, &SingleInstance::restoreRequested);
    // Loosened since the claim, its folder lets the other user as far as the socket.
    QVERIFY(QProcess::execute("chmod", {"-R", "a+rwx", root_->filePath(QStringLiteral("run"))}) == 0);

    const QByteArray name = QFile::encodeName(owner.socketPath());
    const QByteArray message = SingleInstance::EncodeMessage(WM_RESTORE_INSTANCE, 0, 0);
    const pid_t child = fork();
    if (child == 0) {
        // Plain system calls only: the child of a threaded process may do nothing more.
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, name.constData(), static_cast<size_t>(name.size()));
        const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) _exit(2);
        if (::write(fd, message.constData(), static_cast<size_t>(message.size())) != message.size()) _exit(4);
        ::close(fd);
        _exit(0);
    }
    QVERIFY(child > 0);
    int status = -1;
    QVERIFY(QTest::qWaitFor([&] { return waitpid(child, &status, WNOHANG) == child; }, 5000));
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);

    QVERIFY(SingleInstance::PostInstanceMessage(owner.socketPath(), WM_RESTORE_INSTANCE, 0, 0));
    QTRY_COMPARE(restored.size(), 1);
    QTest::qWait(50);
    QCOMPARE(restored.size(), 1);
}

void TestSingleInstance::secondStartEndsAtOnce_data() {
    QTest::addColumn<int>("held");  // abstract names another user holds
    QTest::addColumn<int>("how");
    QTest::addColumn<QString>("setup");  // the runtime folder, or what another user put in the temporary one
    QTest::addColumn<QString>("socket");  // where the instance is met
    const QString run = QStringLiteral("run/korvex-calibrator/instance");
    const QString tmp = QStringLiteral("korvex-calibrator-%1/instance").arg(geteuid());
    const QString home = QStringLiteral("home/.korvex-calibrator-%1/instance").arg(QSysInfo::machineHostName());
    QTest::newRow("alone") << 0 << int(Listening) << "run" << run;
    QTest::newRow("another user holds the old names") << 16 << int(Listening) << "run" << run;
    QTest::newRow("no runtime folder") << 0 << int(Listening) << "" << tmp;
    QTest::newRow("another user's runtime folder") << 0 << int(Listening) << "theirs" << tmp;
    QTest::newRow("another user's folder in the place") << 16 << int(Listening) << "folder" << home;
    QTest::newRow("a link in the place") << 16 << int(Listening) << "link" << home;
    QTest::newRow("a socket in the place") << 16 << int(Listening) << "socket" << home;
}

void TestSingleInstance::secondStartEndsAtOnce() {
    QFETCH(int, held);
    QFETCH(int, how);
    QFETCH(QString, setup);
    QFETCH(QString, socket);
    if ((held > 0 || (setup != "run" && !setup.isEmpty())) && geteuid() != 0) QSKIP("needs root to act as another user");
    QVERIFY(held == 0 || holdAsNobody(held, Hold(how)));
    const QString theirs = root_->filePath(QStringLiteral("theirs"));
    const QString at = root_->filePath(QStringLiteral("korvex-calibrator-%1").arg(geteuid()));
    QLocalServer planted;
    QVERIFY(QDir().mkpath(theirs) && (setup != "folder" || QDir().mkpath(at)) && (setup != "socket" || planted.listen(at)));
    QVERIFY(setup != "link" || QFile::link(theirs, at));
    for (const QString& path : {theirs, at}) QVERIFY(geteuid() != 0 || !QFileInfo::exists(path) || ::lchown(QFile::encodeName(path).constData(), 65534, 65534) == 0);
    if (setup != "run") setup == "theirs" ? env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), theirs) : env_.remove(QStringLiteral("XDG_RUNTIME_DIR"));

    dirs_.push_back(std::make_unique<QTemporaryDir>());
    const QString firstDir = dirs_.back()->path();
    dirs_.push_back(std::make_unique<QTemporaryDir>());
    const QString secondDir = dirs_.back()->path();

    QProcess* first = start(firstDir);
    QVERIFY(waitUntilPrimary(first, firstDir));
    QVERIFY2(QFileInfo::exists(root_->filePath(socket)), qPrintable(socket));

    QProcess* second = start(secondDir);
    QVERIFY(second->waitForFinished(10000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QVERIFY(!QFile::exists(secondDir + QStringLiteral("/Config.Ini")));
    QVERIFY(!QFile::exists(secondDir + QStringLiteral("/Temp")));
    QCOMPARE(first->state(), QProcess::Running);
}

void TestSingleInstance::startAfterKilledInstance() {
    dirs_.push_back(std::make_unique<QTemporaryDir>());
    const QString killedDir = dirs_.back()->path();
    dirs_.push_back(std::make_unique<QTemporaryDir>());
    const QString nextDir = dirs_.back()->path();
    dirs_.push_back(std::make_unique<QTemporaryDir>());
    const QString probeDir = dirs_.back()->path();

    QProcess* killed = start(killedDir);
    QVERIFY(waitUntilPrimary(killed, killedDir));
    ::kill(static_cast<pid_t>(killed->processId()), SIGKILL);
    QVERIFY(killed->waitForFinished(5000));

    QProcess* next = start(nextDir);
    QVERIFY(waitUntilPrimary(next, nextDir));

    // The new one really owns the name: a further start defers to it.
    QProcess* probe = start(probeDir);
    QVERIFY(probe->waitForFinished(10000));
    QCOMPARE(probe->exitCode(), 0);
    QVERIFY(!QFile::exists(probeDir + QStringLiteral("/Temp")));
    QCOMPARE(next->state(), QProcess::Running);
}

void TestSingleInstance::twentySimultaneousStartsLeaveOne() {
    constexpr int Starts = 20;
    QStringList folders;
    QList<QProcess*> started;
    for (int i = 0; i < Starts; ++i) {
        dirs_.push_back(std::make_unique<QTemporaryDir>());
        folders << dirs_.back()->path();
    }
    for (const QString& dir : folders) started << start(dir);

    auto runningCount = [&] {
        int n = 0;
        for (QProcess* p : started) n += p->state() != QProcess::NotRunning ? 1 : 0;
        return n;
    };
    QVERIFY(QTest::qWaitFor([&] { return runningCount() <= 1; }, 60000));
    // The survivor is not merely slow to end.
    QTest::qWait(500);
    QCOMPARE(runningCount(), 1);

    int owners = 0;
    for (int i = 0; i < Starts; ++i) {
        QProcess* p = started[i];
        const bool hasTemp = QFileInfo(folders[i] + QStringLiteral("/Temp")).isDir();
        if (p->state() == QProcess::Running) {
            QVERIFY(QTest::qWaitFor([&] { return QFileInfo(folders[i] + QStringLiteral("/Temp")).isDir(); },
                                    20000));
            ++owners;
        } else {
            QCOMPARE(p->exitStatus(), QProcess::NormalExit);
            QCOMPARE(p->exitCode(), 0);
            QVERIFY(!hasTemp);
        }
    }
    QCOMPARE(owners, 1);
}

void TestSingleInstance::garbageDoesNotHurtTheRunningProgram() {
    dirs_.push_back(std::make_unique<QTemporaryDir>());
    const QString ownerDir = dirs_.back()->path();
    dirs_.push_back(std::make_unique<QTemporaryDir>());
    const QString laterDir = dirs_.back()->path();

    QProcess* owner = start(ownerDir);
    QVERIFY(waitUntilPrimary(owner, ownerDir));

    const QString name = root_->filePath(QStringLiteral("run/korvex-calibrator/instance"));
    QVERIFY(SendRaw(name, QByteArray(10000, '\x7e')));
    QVERIFY(SendRaw(name, SingleInstance::EncodeMessage(0x7EB, 0, 0)));
    QVERIFY(SendRaw(name, QByteArray("\x00\x01", 2)));
    QVERIFY(SendRaw(name, QByteArray()));

    QProcess* later = start(laterDir);
    QVERIFY(later->waitForFinished(10000));
    QCOMPARE(later->exitCode(), 0);
    QCOMPARE(owner->state(), QProcess::Running);
}

void TestSingleInstance::commandLineAnsweredWithoutStarting_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    const QString usage = QStringLiteral("Usage: korvex-calibrator [OPTION]...\n");
    const QString tryHelp = QStringLiteral("\nTry 'korvex-calibrator --help' for more information.\n");
    QTest::newRow("help") << QStringList{QStringLiteral("--help")} << 0 << usage << QString();
    QTest::newRow("help before a run") << QStringList{QStringLiteral("--automatic"), QStringLiteral("--help")} << 0
                                       << usage << QString();
    QTest::newRow("version") << QStringList{QStringLiteral("--version")} << 0
                             << QStringLiteral("korvex-calibrator (Korvex Power Calibrator) 1.1.0.19\n") << QString();
    QTest::newRow("levels without a file")
        << QStringList{QStringLiteral("--automatic"), QStringLiteral("--levels")} << 2 << QString()
        << QStringLiteral("korvex-calibrator: option '--levels' requires an argument") + tryHelp;
    QTest::newRow("runs not a number")
        << QStringList{QStringLiteral("--runs"), QStringLiteral("many"), QStringLiteral("--automatic")} << 2 << QString()
        << QStringLiteral("korvex-calibrator: invalid number of runs 'many'") + tryHelp;
    QTest::newRow("no runs") << QStringList{QStringLiteral("--automatic"), QStringLiteral("--runs"), QStringLiteral("0")}
                             << 2 << QString() << QStringLiteral("korvex-calibrator: invalid number of runs '0'") + tryHelp;
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--automatic"), QStringLiteral("--colour")} << 2 << QString()
                                    << QStringLiteral("korvex-calibrator: unrecognized option '--colour'") + tryHelp;
    // Qt's own options, and the value after one, are Qt's to read.
    QTest::newRow("Qt's options pass") << QStringList{"-qwindowtitle", "-Bench A-", "--platform", "offscreen", "-reverse", "--version"}
                                       << 0 << QStringLiteral("korvex-calibrator (Korvex Power Calibrator) ") << QString();
}

void TestSingleInstance::commandLineAnsweredWithoutStarting() {
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    dirs_.push_back(std::make_unique<QTemporaryDir>());
    const QString ownerDir = dirs_.back()->path();
    dirs_.push_back(std::make_unique<QTemporaryDir>());
    const QString askedDir = dirs_.back()->path();
    // With the name taken, a start that went as far as claiming it would end silently.
    QProcess* owner = start(ownerDir);
    QVERIFY(waitUntilPrimary(owner, ownerDir));

    QProcess asked;
    asked.setProcessEnvironment(env_);
    asked.setWorkingDirectory(askedDir);
    asked.start(makeCopy(askedDir), args);
    QVERIFY(asked.waitForFinished(10000));
    QCOMPARE(asked.exitCode(), exitCode);
    const QString said = QString::fromLocal8Bit(asked.readAllStandardOutput());
    QVERIFY2(out.isEmpty() ? said.isEmpty() : said.startsWith(out), qPrintable(said));
    QCOMPARE(QString::fromLocal8Bit(asked.readAllStandardError()), err);
    QVERIFY(!QFile::exists(askedDir + QStringLiteral("/Temp")));
    QCOMPARE(owner->state(), QProcess::Running);
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_SingleInstance.moc"
