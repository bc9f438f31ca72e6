// Tests of the run engine against a deterministic clock, a fake serial control and a recording window.
#include "AppError.h"
#include "FakeClock.h"
#include "FakeSerialControl.h"
#include "FakeStation.h"
#include "RecordingObserver.h"
#include "RecordingView.h"
#include "RunEngine.h"
#include "SerialLink.h"
#include "StackSpread.h"

#include <QtTest>

#include <cmath>

namespace {

const QString Succeed = QStringLiteral("Succeed !");
const QString CommFailed = QStringLiteral("Communication failed !");

// The seven readings in volts and amperes, as the operator types them.
const std::vector<double> Readings{0.1, 3.999, 4.0, 19.0, 20.0, 0.1, 5.1};

// A station with a supply on the line that answers every frame it is meant to answer.
class Rig : public FakeStation {
public:

    // What the supply reports as its serial number (six bytes), and the command of that answer.
    QByteArray serialDigits = "ab0000";
    std::uint8_t serialAnswerCommand = Cmd::ReadSerial;
    // Whether the supply answers a frame; every frame by default.
    std::function<bool(const TPsuFrame&)> answers = [](const TPsuFrame&) { return true; };
    int replyDelayMs = 5;

    // What the read tick saw.
    int readCalls = 0;
    std::vector<qint64> readAt;
    std::vector<bool> abortedAtRead;
    bool acceptReadings = true;

    // What the configuration save saw.
    int saves = 0;
    std::vector<std::int32_t> savedCounter;
    std::vector<bool> savedEquality;
    int boxesBeforeSave = -1;
    QString saveError;

    Rig()
    {
        link.OpenPort(1, 9600);
        comm.setFrameHandler([this](const TPsuFrame& f) {
            if (!answers(f)) return;
            const TPsuFrame reply = replyTo(f);
            clock.scheduleIn(replyDelayMs, [this, reply] { comm.inject(reply); });
        });
        engine.setReadVolHandler([this] { onReadTick(); });
        engine.setSaveConfig([this] {
            boxesBeforeSave = static_cast<int>(view.boxes.size());
            if (!saveError.isEmpty()) throw AppError(saveError);
            ++saves;
            const TRunState& s = engine.state();
            savedCounter.push_back(s.FUnitCounter);
            savedEquality.push_back(static_cast<std::int64_t>(s.FReadSerial) == s.FUnitCounter);
        });
    }

    TPsuFrame replyTo(const TPsuFrame& f) const
    {
        TPsuFrame r = MakeFrame(f.address(), f.command() == Cmd::ReadSerial ? serialAnswerCommand : f.command());
        if (f.command() == Cmd::ReadSerial)
            for (int i = 0; i < 6; ++i) r.data(i) = static_cast<std::uint8_t>(serialDigits[i]);
        SealFrame(r);
        return r;
    }

    // The operator's side of a meter step, as the prompt takes a confirmed reading.
    void onReadTick()
    {
        const TRunState& s = engine.state();
        ++readCalls;
        readAt.push_back(clock.tickMs());
        abortedAtRead.push_back(s.FAborted);
        if (s.FAborted || !acceptReadings) return;
        const int point = (s.FStep - 5) / 3;
        const double value = Readings.at(static_cast<std::size_t>(point));
        engine.AcceptReading(QString::number(value), static_cast<std::int32_t>(std::nearbyint(value * 1000.0)));
    }

    void start() { engine.btnStartClick(); }
    // Bytes arrive and the receive wait runs out.
    void receive(const QByteArray& bytes)
    {
        comm.inject(bytes);
        clock.advance(SerialLink::BaudWaitMs(link.FBaud) + 1);
    }
    void receive(const TPsuFrame& f) { receive(QByteArray(reinterpret_cast<const char*>(f.bytes.data()), TPsuFrame::Size)); }

    // The clearing run's particulars, counted: the engine sends its list and counts its sends.
    struct CountingClearing : ClearingSteps {
        mutable int ticks = 0;
        mutable int confirmations = 0;
        bool confirmAll = false;
        QString TickText(int, int) const override { ++ticks; return QString(); }
        void ShowSend(RunView&, int, int) override {}
        QString LogLine(int step, const TPsuFrame&) const override { return QStringLiteral("clearing %1").arg(step); }
        bool IsConfirmation(const TPsuFrame& reply, int) const override
        {
            const bool yes = confirmAll || reply.command() == Cmd::ClearingAnswer;
            confirmations += yes;
            return yes;
        }
    };
    CountingClearing clearingSteps;
    void startClearing() { engine.StartClearing(clearingSteps, TSendQueue(6, MakeFrame(0, Cmd::ControlState)), TPsuFrame{}); }

    bool runUntil(const std::function<bool()>& pred, qint64 maxMs = 200000)
    {
        return clock.advanceUntil(pred, maxMs);
    }
    bool runToEnd() { return runUntil([this] { return !engine.state().FCalibrating; }); }

    int framesWithCommand(std::uint8_t command) const
    {
        int n = 0;
        for (const TPsuFrame& f : comm.frames)
            if (f.command() == command) ++n;
        return n;
    }
    const TPsuFrame* lastFrameWithCommand(std::uint8_t command) const
    {
        for (auto it = comm.frames.rbegin(); it != comm.frames.rend(); ++it)
            if (it->command() == command) return &*it;
        return nullptr;
    }
};

QByteArray serialBytes(const TPsuFrame& f)
{
    QByteArray out;
    for (int i = 0; i < 6; ++i) out.append(static_cast<char>(f.data(i)));
    return out;
}

bool checksumHolds(const TPsuFrame& f) { return f[TPsuFrame::ChecksumIndex] == FrameChecksum(f); }

}  // namespace

class TestRunEngine : public QObject {
    Q_OBJECT

private slots:
    void defaults();
    void firstSendOnePeriodAfterStartStep();
    void retryLimits_data();
    void retryLimits();
    void slowFramePause_data();
    void slowFramePause();
    void anyCommandAcknowledges_data();
    void anyCommandAcknowledges();
    void readSerial_data();
    void readSerial();
    void ignoredReplies_data();
    void ignoredReplies();
    void meterHandOver();
    void abortInsideMeterWait();
    void newRunInsideMeterWait();
    void secondReplyToPointSelection_data();
    void secondReplyToPointSelection();
    void storeMeasuredValue_data();
    void storeMeasuredValue();
    void completion_data();
    void completion();
    void unitCounter_data();
    void unitCounter();
    void counterOutOfRange_data();
    void counterOutOfRange();
    void failingSaveShownAfterCompletionBox();
    void calibrateWhileBusy_data();
    void calibrateWhileBusy();
    void notReadyStartsNothing_data();
    void notReadyStartsNothing();
    void abortAnsweredNoLeavesRun();
    void closeQuery();
    void linkLogReachesView();
    void observerSeesEachEnding_data();
    void observerSeesEachEnding();
    void aftermathOfEachEnding_data();
    void aftermathOfEachEnding();
};

void TestRunEngine::defaults()
{
    Rig rig;
    const TRunState& s = rig.engine.state();
    QCOMPARE(s.FModel, 0);
    QCOMPARE(s.FTestCode, 0x020101u);
    QCOMPARE(s.FReadSerial, 0u);
    QCOMPARE(s.FMeterDelay, 1000);
    QCOMPARE(s.FStartTime, rig.clock.now());
    QCOMPARE(rig.engine.TimerSend().interval(), 400);
    QCOMPARE(rig.engine.TimerReadVol().interval(), 500);
    QCOMPARE(rig.engine.TimerShow().interval(), 1000);
    QVERIFY(!rig.engine.TimerSend().isActive());
    QVERIFY(!rig.engine.TimerReadVol().isActive());
    QVERIFY(!rig.engine.TimerShow().isActive());
}

void TestRunEngine::firstSendOnePeriodAfterStartStep()
{
    Rig rig;
    rig.answers = [](const TPsuFrame&) { return false; };
    rig.start();
    QVERIFY(rig.engine.state().FCalibrating);
    QVERIFY(rig.engine.TimerShow().isActive());
    rig.clock.advance(399);
    QCOMPARE(rig.comm.frames.size(), 0u);
    rig.clock.advance(1);
    QCOMPARE(rig.comm.frames.size(), 1u);
    QCOMPARE(rig.comm.frames[0], rig.engine.state().FCalList[0].Frame);
    QVERIFY(rig.view.log.last().startsWith(QStringLiteral("[Step 1] :  AA 00 82 03")));

    // A new step starts its period anew.
    rig.clock.advance(200);
    rig.engine.StartStep(2);
    rig.clock.advance(399);
    QCOMPARE(rig.comm.frames.size(), 1u);
    rig.clock.advance(1);
    QCOMPARE(rig.comm.frames.size(), 2u);
    QCOMPARE(rig.comm.frames[1].command(), Cmd::CalibrationMode);
}

void TestRunEngine::retryLimits_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("limit");
    QTest::addColumn<bool>("runEnds");
    QTest::addColumn<bool>("portClosed");
    QTest::newRow("step 1 stalls after 6") << 1 << 6 << false << false;
    QTest::newRow("step 1 stalls with the port closed") << 1 << 6 << false << true;
    QTest::newRow("serial read stalls after 100") << 3 << 100 << false << false;
    QTest::newRow("set point stalls after 6") << 6 << 6 << false << false;
    QTest::newRow("serial number step fails") << 25 << 6 << true << false;
    QTest::newRow("testing info step fails") << 26 << 6 << true << false;
}

void TestRunEngine::retryLimits()
{
    QFETCH(int, step);
    QFETCH(int, limit);
    QFETCH(bool, runEnds);
    QFETCH(bool, portClosed);
    Rig rig;
    rig.engine.LoadConfig(StoredConfig{42, 500});
    rig.answers = [](const TPsuFrame&) { return false; };
    if (portClosed) rig.link.ClosePort();
    rig.start();
    rig.engine.StartStep(step);
    const TPsuFrame frame = rig.engine.state().FCalList[static_cast<std::size_t>(step - 1)].Frame;

    if (!portClosed) QVERIFY(rig.runUntil([&] { return static_cast<int>(rig.comm.frames.size()) == limit; }));
    QVERIFY(rig.view.stepStates.count(step) == 0);
    for (const TPsuFrame& f : rig.comm.frames) QCOMPARE(f, frame);

    QVERIFY(rig.runUntil([&] { return rig.view.stepStates.count(step) == 1; }, portClosed ? 5000 : 3000));
    QCOMPARE(rig.view.stepStates[step], CommFailed);
    QVERIFY(!rig.engine.TimerSend().isActive());
    rig.clock.advance(5000);

    const TRunState& s = rig.engine.state();
    if (runEnds) {
        QCOMPARE(static_cast<int>(rig.comm.frames.size()), limit);
        QVERIFY(!s.FCalibrating);
        QCOMPARE(rig.view.boxTexts("Warning"), QStringList{CommFailed});
        QCOMPARE(rig.view.statusPanels[0], CommFailed);
        QCOMPARE(rig.view.buttons[ToolButton::Cancel], false);
        QCOMPARE(rig.view.resultLabel, QStringLiteral("Failed!"));
        QVERIFY(!rig.engine.TimerShow().isActive());
        QCOMPARE(static_cast<int>(s.FTryCount), limit + 1);
        QCOMPARE(rig.view.stallLine, QString());
    } else {
        // One last send although the timer is stopped; the run waits, still active, and says
        // what to check.
        QCOMPARE(static_cast<int>(rig.comm.frames.size()), portClosed ? 0 : limit + 1);
        QVERIFY(s.FCalibrating);
        QVERIFY(rig.view.boxTexts("Warning").isEmpty());
        QVERIFY(rig.view.resultLabel.isEmpty());
        QCOMPARE(rig.view.stallLine, portClosed ? QStringLiteral("The port is not open: press Setting first.")
                                                : QStringLiteral("The supply does not answer on COM1 at 9600 baud, address %1: "
                                                                 "check the cable, the address and the baud rate, or press Abort.")
                                                      .arg(s.FAddress));
    }
    if (portClosed) {
        // The run's end takes the line away.
        rig.engine.btnCancelClick();
        QVERIFY(!s.FCalibrating);
        QCOMPARE(rig.view.stallLine, QString());
        return;
    }

    // A late answer resumes a stalled run and is ignored by a failed one.
    rig.receive(rig.replyTo(frame));
    QCOMPARE(rig.view.stallLine, QString());
    if (runEnds) {
        QCOMPARE(static_cast<int>(s.FStep), step);
        QCOMPARE(rig.view.stepStates[step], CommFailed);
        QVERIFY(!rig.engine.TimerSend().isActive());
    } else {
        QCOMPARE(rig.view.stepStates[step], Succeed);
        QCOMPARE(static_cast<int>(s.FStep), step + 1);
        QVERIFY(rig.engine.TimerSend().isActive());
    }
}

void TestRunEngine::slowFramePause_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("slow");
    QTest::addColumn<int>("answeredAfter");  // ms after the send; 0: not answered
    QTest::newRow("serial number 0x8B") << 25 << true << 0;
    QTest::newRow("testing info 0x89") << 26 << true << 0;
    QTest::newRow("serial number 0x8B, answered during the pause") << 25 << true << 1000;
    QTest::newRow("set point 0x86") << 6 << false << 0;
    QTest::newRow("leave calibration 0x83") << 27 << false << 0;
}

void TestRunEngine::slowFramePause()
{
    QFETCH(int, step);
    QFETCH(bool, slow);
    QFETCH(int, answeredAfter);
    Rig rig;
    rig.engine.LoadConfig(StoredConfig{42, 500});
    std::vector<int> rxAtWrite;
    std::vector<qint64> sentAt;
    std::vector<TPsuFrame> sent;
    rig.comm.setFrameHandler([&](const TPsuFrame& frame) {
        rxAtWrite.push_back(rig.link.FRxCount());
        sentAt.push_back(rig.clock.tickMs());
        sent.push_back(frame);
    });
    rig.start();
    rig.engine.StartStep(step);
    const qint64 t0 = rig.clock.tickMs();
    // Half an answer is waiting when the frame goes out.
    rig.receive(QByteArray(10, '\x11'));
    QCOMPARE(rig.link.FRxCount(), 10);
    rig.clock.advance(t0 + 400 - rig.clock.tickMs());
    QCOMPARE(sentAt.size(), 1u);
    QCOMPARE(rxAtWrite[0], slow ? 0 : 10);
    // The pause is a timer: the window's thread is never held.
    QVERIFY(std::none_of(rig.clock.waits().begin(), rig.clock.waits().end(), [](const FakeClock::Wait& w) { return w.blocking; }));
    // The pause begins only once the frame has left the port, and that wait is bounded.
    QCOMPARE(rig.comm.waitTimeouts, slow ? std::vector<int>{SerialLink::SendBoundMs(9600)} : std::vector<int>{});

    if (answeredAfter > 0) {
        // The supply's answer to the slow frame is taken when its EEPROM write is over.
        rig.clock.advance(sentAt[0] + answeredAfter - rig.clock.tickMs());
        rig.link.ClearRx();
        rig.receive(rig.replyTo(sent[0]));
        rig.clock.advance(sentAt[0] + 1999 - rig.clock.tickMs());
        QCOMPARE(static_cast<int>(rig.engine.state().FStep), step);
        rig.clock.advance(1);
        QCOMPARE(static_cast<int>(rig.engine.state().FStep), step + 1);
    }
    rig.runUntil([&] { return sentAt.size() == 2; }, 5000);
    QCOMPARE(sentAt.size(), 2u);
    QCOMPARE(sentAt[0], t0 + 400);
    QCOMPARE(sentAt[1] - sentAt[0], slow ? 2400 : 400);
    // Unanswered, the frame is sent again; answered, the next step's goes out.
    QCOMPARE(sent[1].command() == sent[0].command(), answeredAfter == 0);
}

void TestRunEngine::anyCommandAcknowledges_data()
{
    QTest::addColumn<int>("command");
    QTest::newRow("same command") << int(Cmd::ControlState);
    QTest::newRow("clearing answer") << int(Cmd::ClearingAnswer);
    QTest::newRow("zero") << 0;
    QTest::newRow("unknown 0xFF") << 0xFF;
}

void TestRunEngine::anyCommandAcknowledges()
{
    QFETCH(int, command);
    Rig rig;
    rig.answers = [](const TPsuFrame&) { return false; };
    rig.start();
    // Only a 0x8C answer is parsed: the text stays whatever the run holds.
    rig.clock.advance(400);
    rig.receive(MakeFrame(0, static_cast<std::uint8_t>(command)));
    const TRunState& s = rig.engine.state();
    QCOMPARE(rig.view.stepStates[1], Succeed);
    QCOMPARE(rig.view.progressUpdates, 1);
    QCOMPARE(static_cast<int>(s.FStep), 2);
    QCOMPARE(static_cast<int>(s.FTryCount), 1);
    QVERIFY(rig.engine.TimerSend().isActive());
    QVERIFY(s.FSerialText.isEmpty());
}

void TestRunEngine::readSerial_data()
{
    QTest::addColumn<QByteArray>("digits");
    QTest::addColumn<uint>("serial");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("step25");
    QTest::newRow("leading zero kept") << QByteArray("012345") << 12345u << "012345" << QByteArray("012345");
    QTest::newRow("six digits above 65535") << QByteArray("123456") << 123456u << "123456"
                                            << QByteArray("123456");
    QTest::newRow("non-digit") << QByteArray("12a456") << 0u << "" << QByteArray("000042");
    QTest::newRow("blank") << QByteArray("12345 ") << 0u << "" << QByteArray("000042");
    QTest::newRow("all zero") << QByteArray("000000") << 0u << "000000" << QByteArray("000042");
}

void TestRunEngine::readSerial()
{
    QFETCH(QByteArray, digits);
    QFETCH(uint, serial);
    QFETCH(QString, text);
    QFETCH(QByteArray, step25);
    Rig rig;
    rig.serialDigits = digits;
    const TRunState& s = rig.engine.state();
    rig.engine.LoadConfig(StoredConfig{42, 500});
    rig.start();
    rig.engine.StartStep(3);
    QVERIFY(rig.runUntil([&] { return s.FStep == 4; }, 1000));
    QCOMPARE(s.FReadSerial, serial);
    QCOMPARE(s.FSerialText, text);
    QCOMPARE(rig.view.serialBox, text);
    const TPsuFrame& f = s.FCalList[24].Frame;
    QCOMPARE(serialBytes(f), step25);
    QVERIFY(checksumHolds(f));
}

void TestRunEngine::ignoredReplies_data()
{
    QTest::addColumn<QString>("situation");
    QTest::newRow("idle") << "idle";
    QTest::newRow("after abort") << "aborted";
    QTest::newRow("after completion") << "finished";
    QTest::newRow("wrong address") << "address";
    QTest::newRow("wrong checksum") << "checksum";
    QTest::newRow("wrong start byte") << "start";
    // The supply answered step 1 twice: step 2 has not gone out, so the copy must not confirm it.
    QTest::newRow("second answer before the next step is sent") << "duplicate";
    QTest::newRow("an earlier run's late answer before step 1 is sent") << "early";
}

void TestRunEngine::ignoredReplies()
{
    QFETCH(QString, situation);
    Rig rig;
    const TRunState& s = rig.engine.state();
    rig.answers = [](const TPsuFrame&) { return false; };
    TPsuFrame reply = MakeFrame(0, Cmd::ReadSerial);
    for (int i = 0; i < 6; ++i) reply.data(i) = '5';
    SealFrame(reply);

    if (situation == "idle") {
        // A run that ended before anything was sent.
        rig.start();
        rig.engine.btnCancelClick();
    } else if (situation == "finished") {
        rig.engine.LoadConfig(StoredConfig{42, 500});
        rig.answers = [](const TPsuFrame&) { return true; };
        rig.start();
        QVERIFY(rig.runToEnd());
        QCOMPARE(static_cast<int>(s.FStep), 29);
    } else if (situation == "duplicate") {
        rig.start();
        rig.clock.advance(400);
        rig.receive(MakeFrame(0, Cmd::ClearingAnswer));
        QCOMPARE(static_cast<int>(s.FStep), 2);
        QCOMPARE(rig.view.stepStates[1], Succeed);
    } else if (situation == "early") {
        rig.start();
    } else {
        rig.start();
        rig.clock.advance(400);
        if (situation == "aborted") rig.engine.btnCancelClick();
        if (situation == "address") reply[1] = 1;
        if (situation == "checksum") reply[25] ^= 0x01;
        if (situation == "start") reply[0] = 0xAB;
        if (situation != "checksum") SealFrame(reply);
    }
    const std::uint8_t stepBefore = s.FStep;
    const bool sendingBefore = rig.engine.TimerSend().isActive();
    const int updatesBefore = rig.view.progressUpdates;
    const auto statesBefore = rig.view.stepStates;
    const QString serialBefore = s.FSerialText;

    rig.receive(reply);
    QVERIFY(rig.view.log.last().startsWith(QStringLiteral("Rece : ")));
    QCOMPARE(s.FStep, stepBefore);
    QCOMPARE(rig.engine.TimerSend().isActive(), sendingBefore);
    QCOMPARE(rig.view.progressUpdates, updatesBefore);
    QVERIFY(rig.view.stepStates == statesBefore);
    QCOMPARE(s.FSerialText, serialBefore);
    QCOMPARE(s.FReadSerial, 0u);
}

void TestRunEngine::meterHandOver()
{
    Rig rig;
    const TRunState& s = rig.engine.state();
    rig.acceptReadings = false;
    rig.engine.LoadConfig(StoredConfig{1, 700});
    rig.start();
    rig.engine.StartStep(4);
    const qint64 t0 = rig.clock.tickMs();
    QVERIFY(rig.runUntil([&] { return s.FStep == 5; }, 5000));
    // The send, the answer 5 ms later, the receive wait, then strictly more than the 1000 ms pause.
    const qint64 handedOverAt = rig.clock.tickMs();
    QCOMPARE(handedOverAt, t0 + 400 + 5 + 36 + 1001);
    QCOMPARE(rig.view.stepStates[4], Succeed);
    QVERIFY(!rig.engine.TimerSend().isActive());
    QVERIFY(rig.engine.TimerReadVol().isActive());
    QCOMPARE(rig.readCalls, 0);

    // No handler waited for it.
    QVERIFY(rig.clock.waits().empty());

    rig.clock.advance(2000);
    QCOMPARE(rig.readCalls, 1);
    QCOMPARE(rig.readAt[0], handedOverAt + 700);
    // Nothing is sent while the operator reads the meter.
    QCOMPARE(rig.framesWithCommand(Cmd::SelectVoltagePoint), 1);
    QCOMPARE(rig.comm.frames.size(), 1u);
}

void TestRunEngine::abortInsideMeterWait()
{
    Rig rig;
    const TRunState& s = rig.engine.state();
    rig.start();
    rig.engine.StartStep(4);
    rig.clock.advance(400);
    QCOMPARE(rig.comm.frames.size(), 1u);
    // The reply comes 5 ms later; the click lands in the middle of the 1000 ms wait.
    rig.clock.scheduleIn(500, [&] { rig.engine.btnCancelClick(); });
    rig.clock.advance(3000);

    QCOMPARE(rig.view.boxTexts("Question").count(QStringLiteral("Abort ?")), 1);
    QVERIFY(!s.FCalibrating);
    QVERIFY(s.FAborted);
    // The hand-over does not go on into a run that is over: no prompt, no read tick.
    QCOMPARE(static_cast<int>(s.FStep), 4);
    QCOMPARE(rig.readCalls, 0);
    QVERIFY(!rig.engine.TimerReadVol().isActive());
    QVERIFY(!rig.engine.TimerSend().isActive());
    QCOMPARE(rig.comm.frames.size(), 1u);
}

void TestRunEngine::newRunInsideMeterWait()
{
    Rig rig;
    const TRunState& s = rig.engine.state();
    rig.answers = [](const TPsuFrame& f) { return f.command() == Cmd::SelectVoltagePoint; };
    rig.start();
    rig.engine.StartStep(4);
    rig.clock.advance(400);
    // Abort and a fresh start, both clicked while the old hand-over still waits.
    rig.clock.scheduleIn(300, [&] { rig.engine.btnCancelClick(); });
    rig.clock.scheduleIn(400, [&] { rig.engine.btnStartClick(); });
    rig.clock.advance(1500);

    QVERIFY(s.FCalibrating);
    QVERIFY(!s.FAborted);
    QCOMPARE(static_cast<int>(s.FStep), 1);
    QVERIFY(rig.engine.TimerSend().isActive());
    QVERIFY(!rig.engine.TimerReadVol().isActive());
    QCOMPARE(rig.readCalls, 0);
    QCOMPARE(rig.comm.frames.back().command(), Cmd::ControlState);
}

void TestRunEngine::secondReplyToPointSelection_data()
{
    QTest::addColumn<int>("secondAfterMs");
    QTest::addColumn<bool>("insideWait");
    QTest::addColumn<int>("noiseEveryMs");
    QTest::newRow("inside the meter wait") << 300 << true << 0;
    QTest::newRow("after the wait, before the prompt") << 1200 << false << 0;
    // The noise spoils the second answer; the first was read with noise behind it, whole.
    QTest::newRow("inside the meter wait, a byte of noise every 2 ms") << 300 << true << 2;
}

void TestRunEngine::secondReplyToPointSelection()
{
    QFETCH(int, secondAfterMs);
    QFETCH(bool, insideWait);
    QFETCH(int, noiseEveryMs);
    Rig rig;
    const TRunState& s = rig.engine.state();
    StackSpread spread;
    rig.comm.setOnComm([&] {
        spread.mark();
        rig.link.Comm1Comm();
    });
    rig.acceptReadings = false;
    rig.start();
    rig.engine.StartStep(7);
    rig.clock.advance(400);
    const TPsuFrame reply = rig.replyTo(rig.comm.frames.back());
    rig.clock.scheduleIn(secondAfterMs, [&] { rig.comm.inject(reply); });
    for (int t = 10; noiseEveryMs > 0 && t < 1100; t += noiseEveryMs)
        rig.clock.scheduleIn(t, [&] { rig.comm.inject(QByteArray(1, '\x55')); });
    rig.clock.advance(3000);

    // Every port event was handled from the same depth: none inside another's handler.
    QVERIFY2(spread.bytes() < 2048, qPrintable(QString::number(spread.bytes())));
    QCOMPARE(static_cast<int>(s.FStep), 8);
    QCOMPARE(rig.readCalls, 1);
    QVERIFY(!rig.engine.TimerSend().isActive());
    // A meter step that gets an answer is only marked; the run stays where it is.
    QCOMPARE(rig.view.stepStates.count(8), insideWait ? 0u : 1u);
    QCOMPARE(rig.view.progressUpdates, insideWait ? 1 : 2);
    QCOMPARE(rig.comm.frames.size(), 1u);
}

void TestRunEngine::storeMeasuredValue_data()
{
    QTest::addColumn<int>("runMode");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("data");  // data bytes 0..3 afterwards; empty: frame unchanged

    QTest::newRow("3.999 V into step 6") << 1 << 6 << 3999 << QByteArray("\x9F\x0F\x00\x00", 4);
    QTest::newRow("negative voltage") << 1 << 9 << -1500 << QByteArray("\x24\xFA\xFF\xFF", 4);
    QTest::newRow("current keeps low 16 bits") << 1 << 21 << 0x12D687 << QByteArray("\x87\xD6\x00\x00", 4);
    QTest::newRow("5.1 A into step 24") << 1 << 24 << 5100 << QByteArray("\xEC\x13\x00\x00", 4);
    QTest::newRow("other command untouched") << 1 << 3 << 3999 << QByteArray();
    QTest::newRow("meter step untouched") << 1 << 5 << 3999 << QByteArray();
    QTest::newRow("clearing run mode") << 3 << 6 << 3999 << QByteArray();
    QTest::newRow("no run yet") << 0 << 6 << 3999 << QByteArray();
}

void TestRunEngine::storeMeasuredValue()
{
    QFETCH(int, runMode);
    QFETCH(int, step);
    QFETCH(int, value);
    QFETCH(QByteArray, data);
    Rig rig;
    const TRunState& s = rig.engine.state();
    if (runMode == 0) {
        // Nothing to write into and nothing to log.
        rig.engine.StoreMeasuredValue(step);
        QVERIFY(rig.view.log.isEmpty());
        return;
    }
    rig.start();
    const bool setPoint = (step - 6) % 3 == 0 && step >= 6 && step <= 24;
    // The reading is taken at the meter step before `step`, or at the first one for any other step.
    rig.engine.StartStep(setPoint ? step - 1 : 5);
    const TPsuFrame before = s.FCalList[static_cast<std::size_t>(step - 1)].Frame;
    if (runMode == 3) {
        rig.engine.btnCancelClick();
        rig.startClearing();
        rig.view.log.clear();
        rig.engine.StoreMeasuredValue(step);
    } else if (setPoint) {
        rig.engine.AcceptReading(QStringLiteral("x"), value);
    } else {
        rig.engine.AcceptReading(QStringLiteral("x"), value);
        rig.view.log.clear();
        rig.engine.StoreMeasuredValue(step);
    }

    const TPsuFrame& after = s.FCalList[static_cast<std::size_t>(step - 1)].Frame;
    if (runMode != 1) {
        QVERIFY(rig.view.log.isEmpty());
    } else {
        QCOMPARE(rig.view.log, (QStringList{QStringLiteral("Average voltage : %1mV").arg(value),
                                            QStringLiteral("Average current : %1mA").arg(value)}));
    }
    if (data.isEmpty()) {
        QCOMPARE(after, before);
        return;
    }
    for (int i = 0; i < 4; ++i) QCOMPARE(after.data(i), static_cast<std::uint8_t>(data[i]));
    for (int i = 4; i < TPsuFrame::DataSize; ++i) QCOMPARE(after.data(i), before.data(i));
    QCOMPARE(after.command(), before.command());
    QVERIFY(checksumHolds(after));
    QVERIFY(after != before);
}

void TestRunEngine::completion_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("message");
    QTest::newRow("7211B") << 0 << "Voltrix7211B calibrating finished !";
    QTest::newRow("7212B") << 1 << "Voltrix7212B calibrating finished !";
    QTest::newRow("7213B") << 2 << "Voltrix7213B calibrating finished !";
}

void TestRunEngine::completion()
{
    QFETCH(int, model);
    QFETCH(QString, message);
    Rig rig;
    const TRunState& s = rig.engine.state();
    rig.engine.SelectModel(static_cast<std::uint8_t>(model));
    rig.engine.LoadConfig(StoredConfig{42, 500});
    rig.serialDigits = "004711";
    bool informationSeenRunning = true;
    rig.view.onBox = [&](const RecordingView::Box& b) {
        if (b.kind == "Information") informationSeenRunning = s.FCalibrating;
    };
    rig.start();
    QVERIFY(rig.runToEnd());

    QCOMPARE(rig.view.boxTexts("Information"), QStringList{message});
    QCOMPARE(rig.view.boxes.size(), 2u);  // the start question and the completion box
    QVERIFY(!informationSeenRunning);
    QCOMPARE(s.FLogText, message);
    QCOMPARE(rig.view.progressLine, QStringLiteral("Calibrating finished"));
    QCOMPARE(rig.view.serialBox, QStringLiteral("004711"));
    QCOMPARE(rig.view.buttons[ToolButton::Cancel], false);
    QCOMPARE(rig.view.buttons[ToolButton::Clear], true);
    QCOMPARE(rig.view.buttons[ToolButton::Start], true);
    QVERIFY(!rig.engine.TimerShow().isActive());
    QVERIFY(!rig.engine.TimerSend().isActive());
    QCOMPARE(rig.saves, 1);
    QCOMPARE(rig.boxesBeforeSave, 2);
    QCOMPARE(rig.view.progressUpdates, 22);  // every answered step
    for (int step = 1; step <= 29; ++step) QCOMPARE(rig.view.stepStates[step], Succeed);

    // Each sent step went out once, in order; the seven readings reached their set-point frames.
    QCOMPARE(rig.comm.frames.size(), 22u);
    std::vector<std::int32_t> voltages, currents;
    for (const TPsuFrame& f : rig.comm.frames) {
        QVERIFY(checksumHolds(f));
        const std::int32_t v = f.data(0) | (f.data(1) << 8) | (f.data(2) << 16) | (f.data(3) << 24);
        if (f.command() == Cmd::VoltageValue) voltages.push_back(v);
        if (f.command() == Cmd::CurrentValue) currents.push_back(v);
    }
    QCOMPARE(voltages, (std::vector<std::int32_t>{100, 3999, 4000, 19000, 20000}));
    QCOMPARE(currents, (std::vector<std::int32_t>{100, 5100}));
    const TPsuFrame* info = rig.lastFrameWithCommand(Cmd::TestingInfo);
    QVERIFY(info);
    QCOMPARE(info->data(2), static_cast<std::uint8_t>(model + 1));
    QCOMPARE(info->data(3), 26);
    QCOMPARE(info->data(4), 3);
    QCOMPARE(info->data(5), 9);
}

void TestRunEngine::unitCounter_data()
{
    QTest::addColumn<QByteArray>("reported");
    QTest::addColumn<bool>("abortAfterRead");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<int>("counterAtRead");
    QTest::addColumn<int>("counterAfter");
    QTest::addColumn<int>("saves");
    // A whole run on an earlier supply that reported this serial number (empty: none before).
    QTest::addColumn<QByteArray>("earlierSupply");
    // The command of this supply's answer to the serial-number read.
    QTest::addColumn<int>("readAnswer");
    const int serial = Cmd::ReadSerial;

    QTest::newRow("no serial: supply gets the counter") << QByteArray("??????") << false
                                                        << QByteArray("000042") << 42 << 43 << 1 << QByteArray() << serial;
    QTest::newRow("supply carries the counter") << QByteArray("000042") << false
                                                << QByteArray("000042") << 43 << 43 << 1 << QByteArray() << serial;
    QTest::newRow("supply carries another number") << QByteArray("000017") << false
                                                   << QByteArray("000017") << 42 << 42 << 1 << QByteArray() << serial;
    QTest::newRow("run aborted after reading the counter") << QByteArray("000042") << true
                                                           << QByteArray() << 43 << 43 << 0 << QByteArray() << serial;
    // The serial number of the supply before never reaches the next one.
    QTest::newRow("after 000017, read confirmed by 0x12") << QByteArray("000099") << false << QByteArray("000042")
                                                          << 42 << 43 << 2 << QByteArray("000017")
                                                          << int(Cmd::ClearingAnswer);
    QTest::newRow("after 000017, blank serial field") << QByteArray("      ") << false << QByteArray("000042")
                                                      << 42 << 43 << 2 << QByteArray("000017") << serial;
    QTest::newRow("after 000017, its own number") << QByteArray("000099") << false << QByteArray("000099")
                                                  << 42 << 42 << 2 << QByteArray("000017") << serial;
}

void TestRunEngine::unitCounter()
{
    QFETCH(QByteArray, reported);
    QFETCH(bool, abortAfterRead);
    QFETCH(QByteArray, written);
    QFETCH(int, counterAtRead);
    QFETCH(int, counterAfter);
    QFETCH(int, saves);
    QFETCH(QByteArray, earlierSupply);
    QFETCH(int, readAnswer);
    Rig rig;
    const TRunState& s = rig.engine.state();
    rig.engine.LoadConfig(StoredConfig{42, 500});
    if (!earlierSupply.isEmpty()) {
        rig.serialDigits = earlierSupply;
        rig.start();
        QVERIFY(rig.runToEnd());
        QCOMPARE(serialBytes(*rig.lastFrameWithCommand(Cmd::SerialAndModel)), earlierSupply);
        QCOMPARE(s.FSerialText, QString::fromLatin1(earlierSupply));
        rig.comm.frames.clear();
    }
    rig.serialDigits = reported;
    rig.serialAnswerCommand = static_cast<std::uint8_t>(readAnswer);
    rig.start();
    QCOMPARE(rig.view.serialBox, QString());
    QVERIFY(rig.runUntil([&] { return s.FStep == 4; }, 5000));
    QCOMPARE(s.FUnitCounter, counterAtRead);
    const bool carriesDigits = readAnswer == Cmd::ReadSerial &&
                               std::all_of(reported.begin(), reported.end(), [](char c) { return c >= '0' && c <= '9'; });
    QCOMPARE(rig.view.serialBox, carriesDigits ? QString::fromLatin1(reported) : QString());

    if (abortAfterRead) {
        rig.engine.btnCancelClick();
        rig.clock.advance(5000);
        QVERIFY(rig.engine.FormCloseQuery());
    } else {
        QVERIFY(rig.runToEnd());
        const TPsuFrame* serialFrame = rig.lastFrameWithCommand(Cmd::SerialAndModel);
        QVERIFY(serialFrame);
        QCOMPARE(serialBytes(*serialFrame), written);
        // Also a number given to a supply that had none is in the box once the supply holds it.
        QCOMPARE(rig.view.serialBox, QString::fromLatin1(written));
        QCOMPARE(rig.savedCounter.back(), counterAfter);
        // A counter that a supply already carries is never kept for the next start.
        QCOMPARE(rig.savedEquality.back(), false);
    }
    QVERIFY(!s.FCalibrating);
    QCOMPARE(s.FUnitCounter, counterAfter);
    QCOMPARE(rig.saves, saves);
}

void TestRunEngine::counterOutOfRange_data()
{
    QTest::addColumn<int>("counter");
    QTest::addColumn<bool>("refused");
    QTest::newRow("one above six digits") << 1000000 << true;
    QTest::newRow("zero") << 0 << true;
    QTest::newRow("negative") << -5 << true;
    QTest::newRow("largest six-digit number") << 999999 << false;
    QTest::newRow("one") << 1 << false;
}

void TestRunEngine::counterOutOfRange()
{
    QFETCH(int, counter);
    QFETCH(bool, refused);
    Rig rig;
    const TRunState& s = rig.engine.state();
    rig.engine.LoadConfig(StoredConfig{counter, 500});
    rig.start();
    QVERIFY(rig.runToEnd());

    if (!refused) {
        QCOMPARE(static_cast<int>(s.FStep), 29);
        const TPsuFrame* serialFrame = rig.lastFrameWithCommand(Cmd::SerialAndModel);
        QVERIFY(serialFrame);
        QCOMPARE(serialBytes(*serialFrame), QByteArray::number(counter).rightJustified(6, '0'));
        return;
    }
    QCOMPARE(static_cast<int>(s.FStep), 25);
    QCOMPARE(rig.view.boxTexts("Error"),
             QStringList{QStringLiteral("Unit counter %1 cannot be written as a serial number !").arg(counter)});
    QVERIFY(rig.view.boxTexts("Information").isEmpty());
    QCOMPARE(rig.view.buttons[ToolButton::Cancel], false);
    QCOMPARE(rig.view.resultLabel, QStringLiteral("Failed!"));
    QVERIFY(!rig.engine.TimerSend().isActive());
    QVERIFY(!rig.engine.TimerShow().isActive());
    QVERIFY(!rig.engine.TimerReadVol().isActive());
    QCOMPARE(rig.framesWithCommand(Cmd::SerialAndModel), 0);
    QCOMPARE(rig.comm.frames.back().command(), Cmd::CurrentValue);
    const std::size_t sent = rig.comm.frames.size();
    rig.clock.advance(10000);
    QCOMPARE(rig.comm.frames.size(), sent);
    QCOMPARE(s.FUnitCounter, counter);
    QCOMPARE(rig.saves, 0);
    QVERIFY(rig.engine.FormCloseQuery());
}

void TestRunEngine::failingSaveShownAfterCompletionBox()
{
    Rig rig;
    const TRunState& s = rig.engine.state();
    rig.engine.LoadConfig(StoredConfig{42, 500});
    const QString error = QStringLiteral("Unable to write to /ro/Config.Ini");
    rig.saveError = error;
    rig.start();
    QVERIFY(rig.runToEnd());
    QCOMPARE(rig.view.boxes.size(), 3u);
    QCOMPARE(rig.view.boxes[1].kind, QStringLiteral("Information"));
    QCOMPARE(rig.view.boxes[2].kind, QStringLiteral("Error"));
    QCOMPARE(rig.view.boxes[2].text, error);
    QCOMPARE(s.FUnitCounter, 43);

    // The next save writes the advanced counter.
    rig.saveError.clear();
    rig.start();
    QVERIFY(rig.runToEnd());
    QCOMPARE(rig.savedCounter, std::vector<std::int32_t>{44});
}

void TestRunEngine::calibrateWhileBusy_data()
{
    QTest::addColumn<bool>("clearing");
    QTest::addColumn<QString>("warning");
    QTest::newRow("calibrating") << false << "Testing ,please again for a moment !";
    QTest::newRow("clearing") << true << "Clearing ,please again for a moment !";
}

void TestRunEngine::calibrateWhileBusy()
{
    QFETCH(bool, clearing);
    QFETCH(QString, warning);
    Rig rig;
    const TRunState& s = rig.engine.state();
    rig.answers = [](const TPsuFrame&) { return false; };
    if (clearing) {
        rig.startClearing();
    } else {
        rig.start();
        rig.engine.StartStep(2);
    }
    rig.view.boxes.clear();
    rig.view.calls.clear();
    const std::uint8_t step = s.FStep;

    rig.engine.btnStartClick();
    QCOMPARE(rig.view.boxes.size(), 1u);
    QCOMPARE(rig.view.boxes[0].kind, QStringLiteral("Warning"));
    QCOMPARE(rig.view.boxes[0].text, warning);
    QVERIFY(rig.view.calls.isEmpty());
    QCOMPARE(s.FStep, step);
    QCOMPARE(s.FRunMode, clearing ? RunMode::Clearing : RunMode::Calibration);
    QCOMPARE(s.FCalibrating, !clearing);

    // The send tick belongs to whichever run is active.
    rig.clock.advance(400);
    QCOMPARE(rig.clearingSteps.ticks, clearing ? 1 : 0);
    QCOMPARE(rig.comm.frames.size(), 1u);
}

void TestRunEngine::notReadyStartsNothing_data()
{
    QTest::addColumn<QString>("doubt");  // asked before "Are you all ready ?"; empty: nothing
    QTest::addColumn<QByteArray>("answers");  // y(es), n(o), c(losed), in order
    QTest::addColumn<int>("ready");  // how often "Are you all ready ?" was asked
    QTest::newRow("not ready, then the box closed") << "" << QByteArray("nc") << 2;
    QTest::newRow("a doubt answered No, twice") << "Meter past due. Calibrate anyway?" << QByteArray("nn") << 0;
    QTest::newRow("a doubt answered Yes, then not ready")
        << "Meter past due. Calibrate anyway?" << QByteArray("ynn") << 1;
}

void TestRunEngine::notReadyStartsNothing()
{
    QFETCH(QString, doubt);
    QFETCH(QByteArray, answers);
    QFETCH(int, ready);
    Rig rig;
    if (!doubt.isEmpty()) rig.engine.setStartDoubt([doubt] { return doubt; });
    for (char a : answers) rig.view.answers.push_back(a == 'y' ? BoxAnswer::Yes : a == 'n' ? BoxAnswer::No : BoxAnswer::Closed);
    rig.engine.btnStartClick();
    rig.engine.btnStartClick();
    QCOMPARE(rig.view.boxTexts("Question"), QStringList(ready, QStringLiteral("Are you all ready ?")));
    QCOMPARE(rig.view.boxTexts("WarningQuestion"), doubt.isEmpty() ? QStringList() : QStringList(2, doubt));
    const TRunState& s = rig.engine.state();
    QVERIFY(!s.FCalibrating);
    QCOMPARE(s.FRunMode, RunMode::None);
    QVERIFY(s.FCalList.empty());
    QVERIFY(rig.view.calls.isEmpty());
    rig.clock.advance(2000);
    QVERIFY(rig.comm.frames.empty());
}

void TestRunEngine::abortAnsweredNoLeavesRun()
{
    Rig rig;
    rig.answers = [](const TPsuFrame&) { return false; };
    rig.start();
    rig.clock.advance(400);
    rig.view.answers = {BoxAnswer::No};
    rig.engine.btnCancelClick();
    const TRunState& s = rig.engine.state();
    QCOMPARE(rig.view.boxTexts("Question").last(), QStringLiteral("Abort ?"));
    QVERIFY(s.FCalibrating);
    QVERIFY(!s.FAborted);
    QVERIFY(rig.engine.TimerSend().isActive());
    QVERIFY(rig.engine.TimerShow().isActive());
    rig.clock.advance(400);
    QCOMPARE(rig.comm.frames.size(), 2u);

    // Confirmed, the run stops at once and nothing else changes on screen.
    const auto buttons = rig.view.buttons;
    rig.engine.btnCancelClick();
    QVERIFY(!s.FCalibrating);
    QVERIFY(s.FAborted);
    QVERIFY(!rig.engine.TimerSend().isActive());
    QVERIFY(!rig.engine.TimerShow().isActive());
    QVERIFY(rig.view.buttons == buttons);
    rig.clock.advance(2000);
    QCOMPARE(rig.comm.frames.size(), 2u);

    // Without a run the button asks nothing.
    const std::size_t boxes = rig.view.boxes.size();
    rig.engine.btnCancelClick();
    QCOMPARE(rig.view.boxes.size(), boxes);
}

void TestRunEngine::closeQuery()
{
    Rig rig;
    QVERIFY(rig.engine.FormCloseQuery());
    QVERIFY(rig.view.boxes.empty());

    rig.answers = [](const TPsuFrame&) { return false; };
    rig.start();
    const QString text = QStringLiteral("Sorry,please wait for a moment !\rif you abort ,please choose \"abort\" function !");
    QVERIFY(!rig.engine.FormCloseQuery());
    QCOMPARE(rig.view.boxTexts("Warning"), QStringList{text});
    QCOMPARE(rig.engine.state().FLogText, text);

    rig.engine.btnCancelClick();
    QVERIFY(rig.engine.FormCloseQuery());
    QCOMPARE(rig.view.boxTexts("Warning").size(), 1);

    // A clearing run does not hold the window open.
    rig.startClearing();
    QVERIFY(rig.engine.state().FClearing);
    QVERIFY(rig.engine.FormCloseQuery());
}

void TestRunEngine::linkLogReachesView()
{
    Rig rig;
    rig.comm.raise(CommEv::RxParity);
    QCOMPARE(rig.view.log, QStringList{QStringLiteral("<Message> 寄偶校验错")});
    // Before any run the link drops what it receives.
    rig.receive(MakeFrame(0, Cmd::ControlState));
    QCOMPARE(rig.view.log.size(), 1);
    rig.startClearing();
    rig.clock.advance(400);
    rig.view.log.clear();
    rig.receive(MakeFrame(0, Cmd::ClearingAnswer));
    QCOMPARE(rig.view.log.size(), 1);
    QCOMPARE(rig.clearingSteps.confirmations, 1);
}

void TestRunEngine::observerSeesEachEnding_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<int>("end");
    QTest::addColumn<int>("framesSent");
    QTest::addColumn<QList<int>>("stalledAt");
    QTest::newRow("finished") << "finished" << int(RunEnd::Finished) << 22 << QList<int>{};
    QTest::newRow("serial number unanswered") << "failed" << int(RunEnd::Failed) << 17 + 6 << QList<int>{};
    QTest::newRow("counter not writable") << "refused" << int(RunEnd::Refused) << 17 << QList<int>{};
    QTest::newRow("aborted") << "aborted" << int(RunEnd::Aborted) << 2 << QList<int>{};
    QTest::newRow("stalled, then aborted") << "stalled" << int(RunEnd::Aborted) << 7 << QList<int>{1};
}

void TestRunEngine::observerSeesEachEnding()
{
    QFETCH(QString, situation);
    QFETCH(int, end);
    QFETCH(int, framesSent);
    QFETCH(QList<int>, stalledAt);
    Rig rig;
    RecordingObserver watcher(&rig.view);
    rig.engine.AddObserver(&watcher);
    const TRunState& s = rig.engine.state();
    rig.engine.LoadConfig(StoredConfig{situation == "refused" ? 0 : 42, 500});
    if (situation == "failed") rig.answers = [](const TPsuFrame& f) { return f.command() != Cmd::SerialAndModel; };
    if (situation == "stalled") rig.answers = [](const TPsuFrame&) { return false; };
    rig.start();
    if (situation == "aborted") {
        QVERIFY(rig.runUntil([&] { return s.FStep == 3; }, 5000));
    } else if (situation == "stalled") {
        QVERIFY(rig.runUntil([&] { return !watcher.stalled.empty(); }, 5000));
        rig.clock.advance(1000);
        QVERIFY(s.FCalibrating);
    }
    if (situation == "aborted" || situation == "stalled") rig.engine.btnCancelClick();
    QVERIFY(rig.runToEnd());
    rig.clock.advance(5000);

    QCOMPARE(watcher.started, std::vector<RunKind>{RunKind::Calibration});
    QCOMPARE(watcher.stepsAtStart, 29);
    QCOMPARE(watcher.ended.size(), 1u);
    const RecordingObserver::Ended& e = watcher.ended[0];
    QCOMPARE(int(e.end), end);
    QCOMPARE(int(e.kind), int(RunKind::Calibration));
    // Told once the run is over, before the operator sees any box of its ending.
    QVERIFY(!e.calibrating);
    QCOMPARE(e.aborted, end == int(RunEnd::Aborted));
    QCOMPARE(e.boxesBefore, situation == "aborted" || situation == "stalled" ? 2 : 1);
    QVERIFY(!rig.engine.TimerSend().isActive() && !rig.engine.TimerReadVol().isActive() && !rig.engine.TimerShow().isActive());
    QCOMPARE(watcher.events.first(), QStringLiteral("started"));
    QCOMPARE(watcher.events.last(), QStringLiteral("ended"));
    QCOMPARE(QList<int>(watcher.stalled.begin(), watcher.stalled.end()), stalledAt);

    // Every frame that reached the line, with its step; every state the step list got.
    QCOMPARE(static_cast<int>(watcher.sent.size()), framesSent);
    QCOMPARE(watcher.sent.size(), rig.comm.frames.size());
    for (std::size_t i = 0; i < watcher.sent.size(); ++i) QVERIFY(watcher.sent[i].second == rig.comm.frames[i]);
    std::map<int, QString> lastTold;
    for (const auto& [step, text] : watcher.states) lastTold[step] = text;
    QVERIFY(!lastTold.empty());
    for (const auto& [step, text] : lastTold) QCOMPARE(text, rig.view.stepStates[step]);
    QCOMPARE(watcher.log, rig.view.log);

    if (situation == "finished") {
        QCOMPARE(watcher.readings.size(), 7u);
        const std::vector<int> meterSteps{5, 8, 11, 14, 17, 20, 23};
        for (std::size_t i = 0; i < 7; ++i) {
            QCOMPARE(watcher.readings[i].meterStep, meterSteps[i]);
            QCOMPARE(watcher.readings[i].typed, QString::number(Readings[i]));
            QCOMPARE(watcher.readings[i].sent, static_cast<std::int64_t>(std::nearbyint(Readings[i] * 1000.0)));
        }
        QCOMPARE(watcher.states.size(), 29u);
        QCOMPARE(watcher.sent.back().first, 29);
    }
}

namespace {
// A line's database that has no number for a supply.
struct RefusingLine : SerialSource {
    void Request(const TRunState&, Answer answer) override { answer({0, QStringLiteral("the line is down"), {}}); }
    int LimitMs() const override { return 1000; }
};
}  // namespace

void TestRunEngine::aftermathOfEachEnding_data()
{
    QTest::addColumn<QString>("way");
    QTest::addColumn<int>("end");
    // The Abort and Reset buttons afterwards: 1 enabled, 0 disabled, -1 as the start left them.
    QTest::addColumn<int>("abortButton");
    QTest::addColumn<int>("resetButton");
    QTest::addColumn<QString>("resultLabel");
    QTest::addColumn<QString>("progressLine");
    QTest::addColumn<QString>("statusLine");
    QTest::addColumn<QStringList>("boxes");  // every box after the start's question
    QTest::addColumn<QStringList>("states");  // step states shown for the ending, "step:text"

    QTest::newRow("last answer") << "finished" << int(RunEnd::Finished) << 0 << 1 << "" << "Calibrating finished" << ""
                                 << QStringList{"Information: Voltrix7211B calibrating finished !"} << QStringList{};
    QTest::newRow("communication failure") << "failed" << int(RunEnd::Failed) << 0 << -1 << "Failed!" << "" << "Communication failed !"
                                           << QStringList{"Warning: Communication failed !"} << QStringList{"25:Communication failed !"};
    QTest::newRow("refusal: counter") << "counter" << int(RunEnd::Refused) << 0 << -1 << "Failed!" << "" << ""
                                      << QStringList{"Error: Unit counter 0 cannot be written as a serial number !"} << QStringList{};
    QTest::newRow("refusal: line") << "line" << int(RunEnd::Refused) << 0 << -1 << "Failed!" << "" << ""
                                   << QStringList{"Error: This supply has no serial number and none could be taken from the line's database:\nthe line is down"}
                                   << QStringList{};
    QTest::newRow("toolbar Abort") << "toolbar" << int(RunEnd::Aborted) << 1 << -1 << "" << "" << ""
                                   << QStringList{"Question: Abort ?"} << QStringList{};
    QTest::newRow("value dialog refused") << "value" << int(RunEnd::Aborted) << 1 << -1 << "Failed!" << "Calibrating Abort !" << ""
                                          << QStringList{"Notice: Calibrating abort !"} << QStringList{"5:Test abort", "6:Calibrating Abort !"};
    QTest::newRow("value dialog refused after the toolbar's Abort")
        << "toolbar, then value" << int(RunEnd::Aborted) << 1 << -1 << "" << "" << "" << QStringList{"Question: Abort ?"} << QStringList{};
    QTest::newRow("clearing confirmed") << "cleared" << int(RunEnd::Cleared) << -1 << -1 << "OK!" << "" << ""
                                        << QStringList{"Information: Ok,succeed!"} << QStringList{};
    QTest::newRow("clearing unconfirmed") << "clearing failed" << int(RunEnd::ClearingFailed) << -1 << -1 << "Failed!" << "" << ""
                                          << QStringList{"Error: Communication failed,clearing abort!"} << QStringList{};
}

void TestRunEngine::aftermathOfEachEnding()
{
    QFETCH(QString, way);
    QFETCH(int, end);
    QFETCH(int, abortButton);
    QFETCH(int, resetButton);
    QFETCH(QString, resultLabel);
    QFETCH(QString, progressLine);
    QFETCH(QString, statusLine);
    QFETCH(QStringList, boxes);
    QFETCH(QStringList, states);
    Rig rig;
    RecordingObserver watcher;
    rig.engine.AddObserver(&watcher);
    RefusingLine line;
    rig.engine.LoadConfig(StoredConfig{way == "counter" ? 0 : 42, 500});
    if (way == "line") rig.engine.setSerialSource(&line);
    if (way == "failed") rig.answers = [](const TPsuFrame& f) { return f.command() != Cmd::SerialAndModel; };
    rig.acceptReadings = !way.contains("value");

    if (way.startsWith("clear")) {
        rig.clearingSteps.confirmAll = way == "cleared";
        if (way != "cleared") rig.answers = [](const TPsuFrame&) { return false; };
        rig.startClearing();
    } else {
        rig.start();
    }
    rig.view.boxes.clear();
    rig.view.stepStates.clear();
    rig.view.buttons.erase(ToolButton::Clear);
    if (way.startsWith("toolbar")) {
        QVERIFY(rig.runUntil([&] { return rig.engine.state().FStep == 3; }, 5000));
        rig.view.stepStates.clear();
        rig.engine.btnCancelClick();
    }
    if (way.contains("value")) {
        if (way == "value") QVERIFY(rig.runUntil([&] { return rig.readCalls == 1; }, 10000));
        rig.view.stepStates.clear();
        rig.engine.RefuseReading();
    }
    QVERIFY(rig.runUntil([&] { return !rig.engine.IsRunning(); }, 300000));
    if (!way.startsWith("clear") && !way.startsWith("toolbar") && way != "value") {
        // Only the states the ending itself shows: the failure's mark, nothing of the steps before.
        std::map<int, QString> last;
        for (const auto& [step, text] : rig.view.stepStates)
            if (text != Succeed) last[step] = text;
        rig.view.stepStates = last;
    }

    QCOMPARE(watcher.ended.size(), 1u);
    QCOMPARE(int(watcher.ended[0].end), end);
    auto button = [&](ToolButton b) {
        const auto it = rig.view.buttons.find(b);
        return it == rig.view.buttons.end() ? -1 : int(it->second);
    };
    QCOMPARE(button(ToolButton::Cancel), abortButton);
    QCOMPARE(button(ToolButton::Clear), resetButton);
    QCOMPARE(rig.view.resultLabel, resultLabel);
    if (!way.startsWith("clear")) QCOMPARE(rig.view.progressLine, progressLine);
    QCOMPARE(rig.view.statusPanels[0], statusLine);
    QStringList shown;
    for (const RecordingView::Box& b : rig.view.boxes) shown << b.kind + QStringLiteral(": ") + b.text;
    QCOMPARE(shown, boxes);
    QStringList marked;
    for (const auto& [step, text] : rig.view.stepStates) marked << QStringLiteral("%1:%2").arg(step).arg(text);
    QCOMPARE(marked, states);

    // An ended run stays ended: nothing an operator or a late answer does reaches it.
    const auto boxesAfter = rig.view.boxes.size();
    const QString labelAfter = rig.view.resultLabel;
    rig.engine.RefuseReading();
    rig.engine.btnCancelClick();
    rig.engine.AcceptReading(QStringLiteral("1"), 1000);
    rig.clock.advance(5000);
    QCOMPARE(rig.view.boxes.size(), boxesAfter);
    QCOMPARE(rig.view.resultLabel, labelAfter);
    QCOMPARE(watcher.ended.size(), 1u);
    QVERIFY(!rig.engine.TimerSend().isActive());
    QVERIFY(!rig.engine.TimerReadVol().isActive());
}

QTEST_GUILESS_MAIN(TestRunEngine)
#include "tst_RunEngine.moc"
