// Tests of the Reset run against a deterministic clock, a fake serial control and a recording window.
#include "CalList.h"
#include "ClearingRun.h"
#include "FakeClock.h"
#include "FakeSerialControl.h"
#include "FakeStation.h"
#include "RecordingObserver.h"
#include "RecordingView.h"
#include "RunEngine.h"
#include "SerialLink.h"

#include <QtTest>

#include <optional>

namespace {

// A station with a supply on the line; by default the supply answers every frame with 0x12.
class Rig : public FakeStation {
public:
    ClearingRun run{engine};

    // The reply the supply gives to a frame; none when it stays silent.
    std::function<std::optional<TPsuFrame>(const TPsuFrame&)> supply = [](const TPsuFrame& f) {
        return std::optional<TPsuFrame>(MakeFrame(f.address(), Cmd::ClearingAnswer));
    };
    int replyDelayMs = 50;
    std::vector<qint64> sentAt;
    qint64 endBoxAt = -1;

    Rig()
    {
        comm.setFrameHandler([this](const TPsuFrame& f) {
            sentAt.push_back(clock.tickMs());
            if (auto reply = supply(f)) {
                const TPsuFrame r = *reply;
                clock.scheduleIn(replyDelayMs, [this, r] { comm.inject(r); });
            }
        });
        view.onBox = [this](const RecordingView::Box& b) {
            if (b.kind == "Information" || b.kind == "Error") endBoxAt = clock.tickMs();
        };
    }

    void open() { QVERIFY(link.OpenPort(1, 9600)); }
    const TRunState& s() { return engine.state(); }
    // Runs the clearing until it has ended (or 10 s of virtual time have passed).
    void runToEnd()
    {
        clock.advanceUntil([this] { return !s().FClearing; }, 10000);
        QVERIFY(!s().FClearing);
    }
    // Answers the first `count` frames only.
    void answerFirst(int count)
    {
        auto answered = std::make_shared<int>(0);
        supply = [answered, count](const TPsuFrame& f) -> std::optional<TPsuFrame> {
            if (*answered >= count) return std::nullopt;
            ++*answered;
            return MakeFrame(f.address(), Cmd::ClearingAnswer);
        };
    }
};

// The frame the table prescribes for a slot, given what FLastSent held before the list was built.
TPsuFrame ExpectedFrame(int slot, const TPsuFrame& before, int address)
{
    struct Row {
        std::uint8_t command;
        int d0, d1, d2;  // -1: kept from the earlier content
    };
    static constexpr Row Table[5] = {
        {0x82, 2, -1, -1}, {0x83, 0x5A, 0xA5, 1}, {0x8D, 0x5A, 0xA5, 1}, {0x83, 0x5A, 0xA5, 0}, {0x82, 0, 0xA5, 0},
    };
    const Row& r = Table[slot];
    TPsuFrame f = before;
    f[0] = 0xAA;
    f[1] = static_cast<std::uint8_t>(address);
    f[2] = r.command;
    if (r.d0 >= 0) f.data(0) = static_cast<std::uint8_t>(r.d0);
    if (r.d1 >= 0) f.data(1) = static_cast<std::uint8_t>(r.d1);
    if (r.d2 >= 0) f.data(2) = static_cast<std::uint8_t>(r.d2);
    unsigned sum = 0;
    for (int i = 0; i < 25; ++i) sum += f[i];
    f[25] = static_cast<std::uint8_t>(sum & 0xFF);
    return f;
}

TPsuFrame Pattern()
{
    TPsuFrame f;
    for (int i = 0; i < TPsuFrame::Size; ++i) f[i] = static_cast<std::uint8_t>(0x30 + 7 * i);
    return f;
}

TPsuFrame LastCalibrationFrame(int address)
{
    TRunState state;
    state.FAddress = address;
    state.FModel = 1;
    state.FTestCode = TestCodeForModel(1);
    BuildCalList(state, QDate(2026, 3, 9));
    return state.FCalList.back().Frame;
}

}  // namespace

Q_DECLARE_METATYPE(TPsuFrame)
Q_DECLARE_METATYPE(BoxAnswer)

class tst_ClearingRun : public QObject {
    Q_OBJECT
private slots:
    void frames_data();
    void frames();
    void resetBeforeSettings();
    void declined_data();
    void declined();
    void supplyAnsweringEverything();
    void supplyAnsweringTwoFrames();
    void supplySilent();
    void ignoredReplies_data();
    void ignoredReplies();
    void staleReplyBeforeFirstSend();
    void duplicateAnswersDoNotSkipFrames();
    void resetDuringRun();
    void otherButtonsDuringRun_data();
    void otherButtonsDuringRun();
    void writeFailureEndsRun();
};

void tst_ClearingRun::frames_data()
{
    QTest::addColumn<TPsuFrame>("before");
    QTest::addColumn<int>("address");
    QTest::newRow("first after start-up") << TPsuFrame{} << 0;
    QTest::newRow("after a finished calibration") << LastCalibrationFrame(3) << 3;
    QTest::newRow("arbitrary leftovers, address 31") << Pattern() << 31;
}

void tst_ClearingRun::frames()
{
    QFETCH(TPsuFrame, before);
    QFETCH(int, address);
    TPsuFrame composed = before;
    const TSendQueue list = BuildClearList(address, composed);

    QCOMPARE(list.size(), std::size_t(6));
    for (int i = 0; i < 5; ++i) {
        const TPsuFrame expected = ExpectedFrame(i, i == 0 ? before : list[std::size_t(i - 1)], address);
        QCOMPARE(FrameToHex(list[std::size_t(i)]), FrameToHex(expected));
        // Every frame carries the earlier content's data bytes 3 to 21.
        for (int k = 3; k < TPsuFrame::DataSize; ++k) QCOMPARE(list[std::size_t(i)].data(k), before.data(k));
    }
    QCOMPARE(FrameToHex(list[5]), FrameToHex(TPsuFrame{}));
    QVERIFY(composed == list[4]);
    if (before != TPsuFrame{}) return;
    QCOMPARE(list[0].data(1), std::uint8_t(0));
    QCOMPARE(list[0].data(2), std::uint8_t(0));

    // The run sends that list, composed from what the program last sent.
    Rig rig;
    rig.open();
    rig.engine.ApplySettings(RunSettings{{}, {}, {}, address});
    rig.run.btnClearClick();
    rig.runToEnd();
    QCOMPARE(rig.comm.frames.size(), std::size_t(5));
    for (int i = 0; i < 5; ++i) QCOMPARE(FrameToHex(rig.comm.frames[std::size_t(i)]), FrameToHex(list[std::size_t(i)]));
    QVERIFY(rig.s().FClearList == list);
}

void tst_ClearingRun::resetBeforeSettings()
{
    Rig rig;
    rig.view.resultLabel = QStringLiteral("OK!");
    rig.run.btnClearClick();
    rig.clock.advance(5000);

    QCOMPARE(rig.view.boxTexts("Notice"), QStringList{QStringLiteral("Please open serial port !")});
    QCOMPARE(rig.view.boxes.size(), std::size_t(1));
    QVERIFY(rig.comm.sent.isEmpty());
    QVERIFY(!rig.s().FClearing);
    QCOMPARE(rig.s().FRunMode, RunMode::None);
    QVERIFY(rig.view.resultLabel.isEmpty());
}

void tst_ClearingRun::declined_data()
{
    QTest::addColumn<BoxAnswer>("answer");
    QTest::newRow("No") << BoxAnswer::No;
    QTest::newRow("box closed") << BoxAnswer::Closed;
}

void tst_ClearingRun::declined()
{
    QFETCH(BoxAnswer, answer);
    Rig rig;
    rig.open();
    rig.view.log << QStringLiteral("[Step 29] : earlier");
    rig.view.answers.push_back(answer);

    rig.run.btnClearClick();
    rig.clock.advance(5000);

    QCOMPARE(rig.view.boxTexts("WarningQuestion"), QStringList{QStringLiteral("Do you clearing ?")});
    QVERIFY(rig.comm.sent.isEmpty());
    QCOMPARE(rig.s().FRunMode, RunMode::None);
    QCOMPARE(int(rig.s().FStep), 0);
    QVERIFY(rig.s().FClearList.empty());
    QVERIFY(rig.s().FLastSent == TPsuFrame{});
    QCOMPARE(rig.view.log, QStringList{QStringLiteral("[Step 29] : earlier")});
    QVERIFY(!rig.s().FClearing);
    QVERIFY(!rig.engine.TimerSend().isActive());
}

void tst_ClearingRun::supplyAnsweringEverything()
{
    Rig rig;
    rig.open();
    RecordingObserver watcher(&rig.view);
    rig.engine.AddObserver(&watcher);
    rig.view.serialBox = QStringLiteral("000123");
    QStringList progress;
    rig.view.onBox = [&](const RecordingView::Box& b) {
        if (b.kind == "Information") {
            rig.endBoxAt = rig.clock.tickMs();
            // Stopped before the box: a reply now must not touch the finished run.
            const int step = rig.s().FStep;
            rig.comm.inject(MakeFrame(0, Cmd::ClearingAnswer));
            QCOMPARE(int(rig.s().FStep), step);
            QVERIFY(rig.view.resultLabel.isEmpty());
        }
    };

    rig.run.btnClearClick();
    QCOMPARE(rig.s().FRunMode, RunMode::Clearing);
    QCOMPARE(rig.view.progressLine, QStringLiteral("clearing ..."));
    QCOMPARE(rig.view.statusPanels[0], QStringLiteral("Clearing ..."));
    QVERIFY(rig.engine.TimerShow().isActive());
    rig.clock.advance(399);
    QVERIFY(rig.comm.frames.empty());

    rig.runToEnd();

    QCOMPARE(rig.comm.frames.size(), std::size_t(5));
    const std::uint8_t commands[5] = {0x82, 0x83, 0x8D, 0x83, 0x82};
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(rig.comm.frames[std::size_t(i)].command(), commands[i]);
        QVERIFY(rig.comm.frames[std::size_t(i)] == rig.s().FClearList[std::size_t(i)]);
        QCOMPARE(rig.sentAt[std::size_t(i)], qint64(400 * (i + 1)));
    }
    QCOMPARE(rig.view.progressLine, QStringLiteral("clearing,finished-100.00%"));
    QCOMPARE(rig.s().FLogText, QStringLiteral("Clearing,finished-100.00%"));
    QCOMPARE(rig.view.statusPanels[1], QStringLiteral(" 83.33%"));
    QCOMPARE(rig.view.progressBar, 100);
    QCOMPARE(rig.view.boxTexts("Information"), QStringList{QStringLiteral("Ok,succeed!")});
    QCOMPARE(rig.view.resultLabel, QStringLiteral("OK!"));
    QCOMPARE(rig.endBoxAt, qint64(2400));
    QVERIFY(!rig.engine.TimerSend().isActive());
    QVERIFY(!rig.engine.TimerShow().isActive());
    QCOMPARE(rig.s().FRunMode, RunMode::Clearing);
    QCOMPARE(int(rig.s().FStep), 6);

    QStringList sends;
    for (const QString& line : rig.view.log)
        if (line.startsWith(QStringLiteral("[Clearing Step"))) sends << line;
    QCOMPARE(sends.size(), 5);
    QCOMPARE(sends[2], QStringLiteral("[Clearing Step3] : ") + FrameToHex(rig.s().FClearList[2]));

    // The calibration displays are not the clearing run's to touch.
    for (const QString& call : rig.view.calls) {
        QVERIFY2(!call.startsWith(QStringLiteral("SetStepState")) && !call.startsWith(QStringLiteral("InitStepGrid")) &&
                     call != QStringLiteral("FillMsgList") && call != QStringLiteral("ClearMsgListStates"),
                 qPrintable(call));
    }
    QCOMPARE(rig.view.serialBox, QStringLiteral("000123"));

    // Watched from its start to its end, told before the closing box.
    QCOMPARE(watcher.started, std::vector<RunKind>{RunKind::Clearing});
    QCOMPARE(watcher.ended.size(), 1u);
    QCOMPARE(int(watcher.ended[0].end), int(RunEnd::Cleared));
    QCOMPARE(int(watcher.ended[0].kind), int(RunKind::Clearing));
    QVERIFY(!watcher.ended[0].clearing);
    QCOMPARE(watcher.ended[0].boxesBefore, 1);  // the question only
    QCOMPARE(watcher.sent.size(), 5u);
    for (int i = 0; i < 5; ++i) QCOMPARE(watcher.sent[std::size_t(i)].first, i + 1);
    QCOMPARE(watcher.log, rig.view.log);
}

void tst_ClearingRun::supplyAnsweringTwoFrames()
{
    Rig rig;
    rig.open();
    RecordingObserver watcher(&rig.view);
    rig.engine.AddObserver(&watcher);
    rig.answerFirst(2);

    rig.run.btnClearClick();
    rig.runToEnd();

    QCOMPARE(rig.comm.frames.size(), std::size_t(8));
    for (std::size_t i = 2; i < 8; ++i) QCOMPARE(rig.comm.frames[i].command(), Cmd::ClearCalibration);
    QCOMPARE(rig.view.progressBar, 60);
    QCOMPARE(rig.view.boxTexts("Error"), QStringList{QStringLiteral("Communication failed,clearing abort!")});
    QVERIFY(rig.view.boxTexts("Information").isEmpty());
    QCOMPARE(rig.view.resultLabel, QStringLiteral("Failed!"));
    QCOMPARE(rig.endBoxAt, qint64(3600));
    QCOMPARE(int(rig.s().FStep), 3);
    QCOMPARE(int(rig.s().FTryCount), 6);
    QVERIFY(!rig.engine.TimerSend().isActive());
    QVERIFY(!rig.engine.TimerShow().isActive());
    QCOMPARE(watcher.ended.size(), 1u);
    QCOMPARE(int(watcher.ended[0].end), int(RunEnd::ClearingFailed));
    QCOMPARE(watcher.ended[0].boxesBefore, 1);
    QCOMPARE(watcher.sent.size(), 8u);
    QCOMPARE(watcher.sent.back().first, 3);
}

void tst_ClearingRun::supplySilent()
{
    Rig rig;
    rig.open();
    rig.answerFirst(0);

    rig.run.btnClearClick();
    rig.runToEnd();

    QCOMPARE(rig.comm.frames.size(), std::size_t(6));
    QCOMPARE(rig.endBoxAt, qint64(2800));
    QCOMPARE(rig.view.progressBar, 20);
    QCOMPARE(rig.view.statusPanels[1], QStringLiteral(" 16.67%"));
    QCOMPARE(rig.view.progressLine, QStringLiteral("clearing,finished- 16.67%"));
}

void tst_ClearingRun::ignoredReplies_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("another address") << 0;
    QTest::newRow("wrong checksum") << 1;
    QTest::newRow("another command") << 2;
    QTest::newRow("wrong start byte") << 3;
}

void tst_ClearingRun::ignoredReplies()
{
    QFETCH(int, kind);
    Rig rig;
    rig.open();
    rig.engine.ApplySettings(RunSettings{{}, {}, {}, 4});
    rig.supply = [kind](const TPsuFrame& f) -> std::optional<TPsuFrame> {
        TPsuFrame r = MakeFrame(f.address(), Cmd::ClearingAnswer);
        switch (kind) {
            case 0: r = MakeFrame(5, Cmd::ClearingAnswer); break;
            case 1: r[25] = static_cast<std::uint8_t>(r[25] + 1); break;
            case 2: r = MakeFrame(f.address(), f.command()); break;
            case 3: r[0] = 0xAB; SealFrame(r); break;
        }
        return r;
    };

    rig.run.btnClearClick();
    rig.runToEnd();

    QCOMPARE(rig.comm.frames.size(), std::size_t(6));
    for (const TPsuFrame& f : rig.comm.frames) QCOMPARE(f.command(), Cmd::ControlState);
    QCOMPARE(int(rig.s().FStep), 1);
    QCOMPARE(rig.view.resultLabel, QStringLiteral("Failed!"));
}

void tst_ClearingRun::staleReplyBeforeFirstSend()
{
    Rig rig;
    rig.open();
    rig.run.btnClearClick();
    // A late answer to an earlier run arrives before frame 1 went out: it answers nothing sent.
    rig.clock.scheduleIn(100, [&] { rig.comm.inject(MakeFrame(0, Cmd::ClearingAnswer)); });
    rig.runToEnd();

    QCOMPARE(rig.comm.frames.size(), std::size_t(5));
    QCOMPARE(rig.comm.frames[0].command(), Cmd::ControlState);
    QCOMPARE(rig.view.resultLabel, QStringLiteral("OK!"));
}

void tst_ClearingRun::duplicateAnswersDoNotSkipFrames()
{
    Rig rig;
    rig.open();
    // Every frame is answered twice; only one of the answers may move the run on.
    rig.supply = [&rig](const TPsuFrame& f) -> std::optional<TPsuFrame> {
        const TPsuFrame r = MakeFrame(f.address(), Cmd::ClearingAnswer);
        rig.clock.scheduleIn(120, [&rig, r] { rig.comm.inject(r); });
        return r;
    };

    rig.run.btnClearClick();
    rig.runToEnd();

    QCOMPARE(rig.comm.frames.size(), std::size_t(5));
    const std::uint8_t commands[5] = {0x82, 0x83, 0x8D, 0x83, 0x82};
    for (int i = 0; i < 5; ++i) QCOMPARE(rig.comm.frames[std::size_t(i)].command(), commands[i]);
    QCOMPARE(rig.view.resultLabel, QStringLiteral("OK!"));
}

void tst_ClearingRun::resetDuringRun()
{
    Rig rig;
    rig.open();
    rig.run.btnClearClick();
    rig.clock.advance(900);
    QCOMPARE(int(rig.s().FStep), 3);
    const qsizetype logLines = rig.view.log.size();

    rig.run.btnClearClick();

    QCOMPARE(rig.view.boxTexts("Notice"), QStringList{QStringLiteral("Working ,please wait for a moment !")});
    QCOMPARE(rig.view.boxTexts("WarningQuestion").size(), 1);
    QCOMPARE(int(rig.s().FStep), 3);
    QCOMPARE(rig.view.log.size(), logLines);
    rig.runToEnd();
    QCOMPARE(rig.comm.frames.size(), std::size_t(5));
    QCOMPARE(rig.view.resultLabel, QStringLiteral("OK!"));
}

void tst_ClearingRun::otherButtonsDuringRun_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("Calibrate") << QStringLiteral("Calibrate");
    QTest::newRow("Abort") << QStringLiteral("Abort");
    QTest::newRow("close") << QStringLiteral("close");
}

void tst_ClearingRun::otherButtonsDuringRun()
{
    QFETCH(QString, button);
    Rig rig;
    rig.open();
    rig.run.btnClearClick();
    rig.clock.advance(500);
    const std::size_t boxes = rig.view.boxes.size();

    if (button == "Calibrate") {
        rig.engine.btnStartClick();
        QCOMPARE(rig.view.boxTexts("Warning"), QStringList{QStringLiteral("Clearing ,please again for a moment !")});
        QVERIFY(!rig.s().FCalibrating);
        QVERIFY(rig.s().FCalList.empty());
    } else if (button == "Abort") {
        rig.engine.btnCancelClick();
        QCOMPARE(rig.view.boxes.size(), boxes);
        QVERIFY(!rig.s().FAborted);
    } else {
        QVERIFY(rig.engine.FormCloseQuery());
        QCOMPARE(rig.view.boxes.size(), boxes);
    }
    QVERIFY(rig.s().FClearing);
    QCOMPARE(rig.s().FRunMode, RunMode::Clearing);

    rig.runToEnd();
    QCOMPARE(rig.comm.frames.size(), std::size_t(5));
    QCOMPARE(rig.view.resultLabel, QStringLiteral("OK!"));
}

void tst_ClearingRun::writeFailureEndsRun()
{
    Rig rig;
    rig.open();
    // The adapter goes away in the middle of the second frame.
    rig.comm.failWriteAfter = 26 + 10;

    rig.run.btnClearClick();
    rig.runToEnd();

    QVERIFY(!rig.link.FPortOpen);
    QCOMPARE(rig.comm.frames.size(), std::size_t(1));
    QVERIFY(rig.view.log.contains(QStringLiteral("<Error> Failed to write data to port !")));
    QCOMPARE(rig.view.boxTexts("Error"), QStringList{QStringLiteral("Communication failed,clearing abort!")});
    QCOMPARE(int(rig.s().FStep), 2);

    rig.run.btnClearClick();
    QCOMPARE(rig.view.boxTexts("Notice"), QStringList{QStringLiteral("Please open serial port !")});
}

QTEST_GUILESS_MAIN(tst_ClearingRun)
#include "tst_ClearingRun.moc"
