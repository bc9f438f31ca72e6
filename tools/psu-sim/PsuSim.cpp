// A simulated power supply on a pseudo-terminal or serial device: answers frames, keeps its state, injects faults.
#include "PsuSim.h"

#include <QRegularExpression>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// What a multimeter on the terminals reads at each point of each model (7211B, 7212B, 7213B):
// near the nominal level, off by a small fixed amount so that a typed reading is told apart
// from the nominal value.
constexpr double VoltageReading[3][5]{{0.1003, 3.9988, 4.0012, 19.0062, 18.9970},
                                      {0.1003, 3.9988, 4.0012, 37.0125, 19.9940},
                                      {0.1003, 3.9988, 4.0012, 73.0210, 19.9940}};
constexpr double CurrentReading[3][2]{{0.1004, 5.0970}, {0.1004, 3.0985}, {0.1004, 1.5990}};
constexpr int HangUpGraceMs = 50;

int ModelIndex(int model) { return model >= 0 && model <= 2 ? model : 1; }

QString Hex(const QByteArray& bytes)
{
    QString text;
    for (char c : bytes) text += QStringLiteral(" %1").arg(static_cast<std::uint8_t>(c), 2, 16, QLatin1Char('0')).toUpper();
    return text;
}

QByteArray Bytes(const TPsuFrame& f)
{
    return QByteArray(reinterpret_cast<const char*>(f.bytes.data()), TPsuFrame::Size);
}

QString CmdText(std::uint8_t cmd)
{
    return QStringLiteral("0x%1").arg(cmd, 2, 16, QLatin1Char('0')).toUpper().replace(QStringLiteral("0X"), QStringLiteral("0x"));
}

bool SetRaw(int fd, int baud, QString* error)
{
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        *error = QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    cfmakeraw(&tio);
    speed_t speed = B9600;
    switch (baud) {
        case 4800: speed = B4800; break;
        case 19200: speed = B19200; break;
        case 38400: speed = B38400; break;
        default: break;
    }
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    tio.c_cflag |= CLOCAL | CREAD;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        *error = QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    return true;
}

}  // namespace

bool FaultSelector::parse(const QString& text, QString* error)
{
    static const QRegularExpression item(QStringLiteral("^(all|(?:0x)?[0-9a-f]{1,2})(?:x(\\d+))?$"),
                                         QRegularExpression::CaseInsensitiveOption);
    for (const QString& raw : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const auto m = item.match(raw.trimmed());
        if (!m.hasMatch()) {
            *error = QStringLiteral("bad command selector: %1").arg(raw);
            return false;
        }
        Budget budget;
        if (!m.captured(2).isEmpty()) {
            budget.unlimited = false;
            budget.left = m.captured(2).toInt();
        }
        const QString what = m.captured(1).toLower();
        if (what == QLatin1String("all")) {
            all_ = true;
            allBudget_ = budget;
        } else {
            QString digits = what;
            if (digits.startsWith(QLatin1String("0x"))) digits = digits.mid(2);
            perCommand_[static_cast<std::uint8_t>(digits.toUInt(nullptr, 16))] = budget;
        }
    }
    return true;
}

bool FaultSelector::take(std::uint8_t command)
{
    auto spend = [](Budget& b) {
        if (b.unlimited) return true;
        if (b.left <= 0) return false;
        --b.left;
        return true;
    };
    auto it = perCommand_.find(command);
    if (it != perCommand_.end()) return spend(it->second);
    return all_ && spend(allBudget_);
}

PsuSim::PsuSim(PsuSimOptions options, QObject* parent) : QObject(parent), opt_(std::move(options)), rng_(opt_.randomSeed)
{
    clock_.start();
    outTimer_.setSingleShot(true);
    outTimer_.setTimerType(Qt::PreciseTimer);
    connect(&outTimer_, &QTimer::timeout, this, &PsuSim::flushDue);
}

PsuSim::~PsuSim()
{
    notifier_.reset();
    if (fd_ >= 0) ::close(fd_);
    if (slaveFd_ >= 0) ::close(slaveFd_);
}

void PsuSim::Print(const QString& line)
{
    const QByteArray text = line.toUtf8() + '\n';
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stdout);
    std::fflush(stdout);
}

QString PsuSim::openPty(QString* error)
{
    fd_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0) {
        *error = QString::fromLocal8Bit(strerror(errno));
        return {};
    }
    char name[128] = {};
    if (ptsname_r(fd_, name, sizeof name) != 0) {
        *error = QString::fromLocal8Bit(strerror(errno));
        return {};
    }
    // Holding the slave open keeps the master alive when the calibrator closes its end, and
    // raw mode stops the line discipline from echoing frames back at the calibrator.
    slaveFd_ = ::open(name, O_RDWR | O_NOCTTY);
    if (slaveFd_ < 0 || !SetRaw(slaveFd_, 9600, error)) {
        if (error->isEmpty()) *error = QString::fromLocal8Bit(strerror(errno));
        return {};
    }
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    startReading();
    return QString::fromLocal8Bit(name);
}

bool PsuSim::attach(const QString& path, int baud, QString* error)
{
    fd_ = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) {
        *error = QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    if (!SetRaw(fd_, baud, error)) return false;
    startReading();
    return true;
}

void PsuSim::startReading()
{
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &PsuSim::onReadable);
}

void PsuSim::onReadable()
{
    char buf[512];
    for (;;) {
        const ssize_t got = ::read(fd_, buf, sizeof buf);
        if (got > 0) {
            inbox_.append(buf, static_cast<int>(got));
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) break;
        // End of file or an I/O error would wake the notifier for ever: stop listening.
        Print(QStringLiteral("LINECLOSED %1").arg(got == 0 ? QStringLiteral("end of file") : QString::fromLocal8Bit(strerror(errno))));
        notifier_->setEnabled(false);
        break;
    }
    for (;;) {
        const int start = inbox_.indexOf(static_cast<char>(FrameStart));
        if (start != 0) {
            const int junk = start < 0 ? inbox_.size() : start;
            if (junk > 0) Print(QStringLiteral("JUNK") + Hex(inbox_.left(junk)));
            inbox_.remove(0, junk);
        }
        if (inbox_.size() < TPsuFrame::Size) break;
        TPsuFrame f;
        std::copy_n(reinterpret_cast<const std::uint8_t*>(inbox_.constData()), TPsuFrame::Size, f.bytes.begin());
        if (FrameChecksum(f) != f[TPsuFrame::ChecksumIndex]) {
            Print(QStringLiteral("JUNK") + Hex(inbox_.left(1)));
            inbox_.remove(0, 1);
            continue;
        }
        inbox_.remove(0, TPsuFrame::Size);
        handleFrame(f);
        if (fd_ < 0) break;
    }
}

void PsuSim::handleFrame(const TPsuFrame& f)
{
    if (f.address() != static_cast<std::uint8_t>(opt_.address)) {
        Print(QStringLiteral("RX") + FrameToHex(f) + QStringLiteral(" | for address %1, ignored").arg(f.address()));
        return;
    }
    ++frames_;
    // A frame identical to the one before is the same step sent again.
    if (!previous_ || !(*previous_ == f)) ++step_;
    previous_ = f;

    bool changed = false;
    const QString words = applyFrame(f, &changed);
    // When the frame's last byte was read, for checking the calibrator's timing from outside.
    Print(QStringLiteral("RX") + FrameToHex(f) + QStringLiteral(" | frame %1 step %2 at %3 ms cmd %4 %5")
                                                    .arg(frames_)
                                                    .arg(step_)
                                                    .arg(clock_.elapsed())
                                                    .arg(CmdText(f.command()), words));
    lastAnswerDue_ = 0;
    if (opt_.hangupStep > 0 && step_ == opt_.hangupStep) {
        hangUp();
        return;
    }
    answer(f);
    if (f.command() == Cmd::SelectVoltagePoint || f.command() == Cmd::SelectCurrentPoint) {
        const OutputLevel level = output();
        if (level.kind != OutputLevel::Off)
            Print(QStringLiteral("METER %1 %2").arg(level.value, 0, 'f', 4).arg(level.kind == OutputLevel::Volts ? 'V' : 'A'));
    }
    if (changed) printState();
    // Hang up a little after the answer, so that the answer itself still reaches the other end.
    if (opt_.hangupAfter > 0 && frames_ == opt_.hangupAfter) schedule(lastAnswerDue_ + HangUpGraceMs, {}, true);
}

QString PsuSim::applyFrame(const TPsuFrame& f, bool* changed)
{
    switch (f.command()) {
        case Cmd::ControlState:
            controlState_ = f.data(0);
            // 2 and 0 turn the output off; 3 leaves it as it is.
            if (f.data(0) != 3) output_ = {};
            *changed = true;
            return QStringLiteral("control state %1").arg(f.data(0));
        case Cmd::CalibrationMode:
            if (f.data(0) != CalAccessCode[0] || f.data(1) != CalAccessCode[1])
                return QStringLiteral("calibration mode refused: wrong access code");
            calMode_ = f.data(2) != 0;
            *changed = true;
            return calMode_ ? QStringLiteral("enter calibration mode") : QStringLiteral("leave calibration mode");
        case Cmd::ReadSerial:
            return QStringLiteral("read serial number");
        case Cmd::SelectVoltagePoint:
            if (f.data(0) < 1 || f.data(0) > 5) {
                voltagePoint_ = 0;
                output_ = {};
                return QStringLiteral("select voltage point %1: no such point").arg(f.data(0));
            }
            voltagePoint_ = f.data(0);
            output_ = {OutputLevel::Volts, VoltageReading[ModelIndex(opt_.model)][voltagePoint_ - 1]};
            return QStringLiteral("select voltage point %1").arg(voltagePoint_);
        case Cmd::VoltageValue: {
            if (voltagePoint_ < 1) return QStringLiteral("voltage value without a point, ignored");
            const qint32 mv = static_cast<qint32>(static_cast<std::uint32_t>(f.data(0)) | (static_cast<std::uint32_t>(f.data(1)) << 8) |
                                                  (static_cast<std::uint32_t>(f.data(2)) << 16) |
                                                  (static_cast<std::uint32_t>(f.data(3)) << 24));
            volts_[static_cast<std::size_t>(voltagePoint_ - 1)] = mv;
            cleared_ = false;
            *changed = true;
            return QStringLiteral("voltage point %1 = %2 mV").arg(voltagePoint_).arg(mv);
        }
        case Cmd::SelectCurrentPoint:
            if (f.data(0) < 1 || f.data(0) > 2) {
                currentPoint_ = 0;
                output_ = {};
                return QStringLiteral("select current point %1: no such point").arg(f.data(0));
            }
            currentPoint_ = f.data(0);
            output_ = {OutputLevel::Amps, CurrentReading[ModelIndex(opt_.model)][currentPoint_ - 1]};
            return QStringLiteral("select current point %1").arg(currentPoint_);
        case Cmd::CurrentValue: {
            if (currentPoint_ < 1) return QStringLiteral("current value without a point, ignored");
            const int ma = f.data(0) | (f.data(1) << 8);
            amps_[static_cast<std::size_t>(currentPoint_ - 1)] = ma;
            cleared_ = false;
            *changed = true;
            return QStringLiteral("current point %1 = %2 mA").arg(currentPoint_).arg(ma);
        }
        case Cmd::SerialAndModel: {
            for (int i = 0; i < 6; ++i) opt_.serial[static_cast<std::size_t>(i)] = static_cast<char>(f.data(i));
            QByteArray model;
            for (int i = 6; i < 11; ++i) model += static_cast<char>(f.data(i));
            model_ = model;
            *changed = true;
            return QStringLiteral("write serial %1 model %2")
                .arg(QString::fromLatin1(opt_.serial.data(), 6), QString::fromLatin1(model));
        }
        case Cmd::TestingInfo: {
            std::array<std::uint8_t, 6> info{};
            for (int i = 0; i < 6; ++i) info[static_cast<std::size_t>(i)] = f.data(i);
            testInfo_ = info;
            *changed = true;
            return QStringLiteral("write testing info code %1%2%3 date %4-%5-%6")
                .arg(info[0], 2, 16, QLatin1Char('0'))
                .arg(info[1], 2, 16, QLatin1Char('0'))
                .arg(info[2], 2, 16, QLatin1Char('0'))
                .arg(info[3], 2, 10, QLatin1Char('0'))
                .arg(info[4], 2, 10, QLatin1Char('0'))
                .arg(info[5], 2, 10, QLatin1Char('0'));
        }
        case Cmd::ClearCalibration:
            if (!calMode_) return QStringLiteral("clear calibration refused: not in calibration mode");
            cleared_ = true;
            *changed = true;
            return QStringLiteral("clear calibration data");
        default:
            return QStringLiteral("unknown command");
    }
}

void PsuSim::answer(const TPsuFrame& f)
{
    const std::uint8_t cmd = f.command();
    // Outside the step the faults are meant for, every answer is a clean one.
    const bool faulty = opt_.atStep == 0 || step_ == opt_.atStep;
    FaultSelector none;
    FaultSelector& noAnswer = faulty ? opt_.noAnswer : none;
    FaultSelector& wrongAddress = faulty ? opt_.wrongAddress : none;
    FaultSelector& badChecksum = faulty ? opt_.badChecksum : none;
    FaultSelector& noise = faulty ? opt_.noise : none;
    FaultSelector& duplicate = faulty ? opt_.duplicate : none;
    std::vector<int> split = faulty ? opt_.split : std::vector<int>{};
    int delayMs = faulty ? opt_.delayMs : 0;
    // The chance faults of a soak, in per mille.
    auto chance = [this](int perMille) { return opt_.randomSeed != 0 && static_cast<int>(rng_() % 1000) < perMille; };
    if (chance(30)) {
        Print(QStringLiteral("NOANSWER frame %1 (by chance)").arg(frames_));
        return;
    }
    const bool randomChecksum = chance(20);
    const bool randomNoise = chance(10);
    const bool randomTwice = chance(20);
    if (chance(50)) split = {1 + static_cast<int>(rng_() % 25)};
    if (chance(30)) delayMs += 100 + static_cast<int>(rng_() % 200);
    if (noAnswer.take(cmd)) {
        Print(QStringLiteral("NOANSWER frame %1 cmd %2 (command muted)").arg(frames_).arg(CmdText(cmd)));
        return;
    }
    auto stepIt = opt_.noAnswerSteps.find(step_);
    if (stepIt != opt_.noAnswerSteps.end() && stepIt->second != 0) {
        if (stepIt->second > 0) --stepIt->second;
        Print(QStringLiteral("NOANSWER frame %1 step %2 (step muted)").arg(frames_).arg(step_));
        return;
    }
    ++answersDue_;
    if (faulty && opt_.dropEvery > 0 && answersDue_ % opt_.dropEvery == 0) {
        Print(QStringLiteral("DROP answer %1 (every %2th)").arg(answersDue_).arg(opt_.dropEvery));
        return;
    }

    TPsuFrame a;
    a[0] = FrameStart;
    a[1] = static_cast<std::uint8_t>(opt_.address);
    if (cmd == Cmd::ReadSerial) {
        a[2] = Cmd::ReadSerial;
        for (int i = 0; i < 6; ++i) a.data(i) = static_cast<std::uint8_t>(opt_.serial[static_cast<std::size_t>(i)]);
    } else {
        a[2] = Cmd::ClearingAnswer;
    }
    QStringList notes;
    if (wrongAddress.take(cmd)) {
        a[1] = static_cast<std::uint8_t>(opt_.address + 1);
        notes << QStringLiteral("wrong address");
    }
    SealFrame(a);
    if (badChecksum.take(cmd) || randomChecksum) {
        a[TPsuFrame::ChecksumIndex] = static_cast<std::uint8_t>(a[TPsuFrame::ChecksumIndex] + 1);
        notes << QStringLiteral("bad checksum");
    }
    QByteArray wire = Bytes(a);
    if (noise.take(cmd) || randomNoise) {
        wire.prepend(opt_.noiseBytes);
        notes << QStringLiteral("noise%1").arg(Hex(opt_.noiseBytes));
    }
    const bool twice = duplicate.take(cmd) || randomTwice;
    if (twice) notes << QStringLiteral("duplicated");

    // Cut the answer into the requested chunks, the rest going as the last one.
    std::vector<QByteArray> chunks;
    int at = 0;
    for (int size : split) {
        if (at >= wire.size()) break;
        chunks.push_back(wire.mid(at, size));
        at += size;
    }
    if (at < wire.size()) chunks.push_back(wire.mid(at));
    if (chunks.size() > 1) {
        QStringList sizes;
        for (const auto& c : chunks) sizes << QString::number(c.size());
        notes << QStringLiteral("split %1 gap %2 ms").arg(sizes.join(QLatin1Char(','))).arg(opt_.gapMs);
    }
    qint64 when = delayMs;
    lastAnswerDue_ = when;
    if (delayMs > 0) notes << QStringLiteral("delay %1 ms").arg(delayMs);
    for (int copy = 0; copy < (twice ? 2 : 1); ++copy) {
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            schedule(when, chunks[i]);
            lastAnswerDue_ = when;
            if (i + 1 < chunks.size()) when += opt_.gapMs;
        }
        when += opt_.gapMs;
    }
    ++answersSent_;
    Print(QStringLiteral("TX") + FrameToHex(a) + QStringLiteral(" | answer cmd %1 at %2 ms%3")
                                                  .arg(CmdText(a.command()))
                                                  .arg(clock_.elapsed() + delayMs)
                                                  .arg(notes.isEmpty() ? QString() : QStringLiteral(" [") + notes.join(QStringLiteral("] [")) + QLatin1Char(']')));
}

void PsuSim::schedule(qint64 afterMs, QByteArray bytes, bool hangup)
{
    const qint64 due = clock_.elapsed() + afterMs;
    // Keep the outbox in time order; equal times keep their order of scheduling.
    auto it = outbox_.end();
    while (it != outbox_.begin() && std::prev(it)->due > due) --it;
    outbox_.insert(it, Outgoing{due, std::move(bytes), hangup});
    flushDue();
}

void PsuSim::flushDue()
{
    const qint64 now = clock_.elapsed();
    while (!outbox_.empty() && outbox_.front().due <= now) {
        Outgoing next = std::move(outbox_.front());
        outbox_.pop_front();
        if (fd_ < 0) continue;
        if (next.hangup) {
            hangUp();
            continue;
        }
        const ssize_t put = ::write(fd_, next.bytes.constData(), static_cast<std::size_t>(next.bytes.size()));
        if (put != next.bytes.size()) Print(QStringLiteral("WRITEFAIL %1").arg(QString::fromLocal8Bit(strerror(errno))));
    }
    if (!outbox_.empty()) outTimer_.start(static_cast<int>(std::max<qint64>(0, outbox_.front().due - now)));
}

void PsuSim::hangUp()
{
    notifier_.reset();
    ::close(fd_);
    fd_ = -1;
    outbox_.clear();
    Print(QStringLiteral("HANGUP after %1 frames").arg(frames_));
}

QString PsuSim::stateLine() const
{
    QString serial;
    bool blank = true;
    for (char c : opt_.serial) {
        if (c != ' ') blank = false;
        serial += (c > ' ' && c < 127) ? QLatin1Char(c) : QLatin1Char('?');
    }
    if (blank) serial = QStringLiteral("none");
    QString line = QStringLiteral("STATE serial=%1").arg(serial);
    line += QStringLiteral(" model=%1").arg(model_ ? QString::fromLatin1(*model_) : QStringLiteral("-"));
    if (testInfo_) {
        const auto& t = *testInfo_;
        line += QStringLiteral(" date=%1-%2-%3 code=%4%5%6")
                    .arg(t[3], 2, 10, QLatin1Char('0'))
                    .arg(t[4], 2, 10, QLatin1Char('0'))
                    .arg(t[5], 2, 10, QLatin1Char('0'))
                    .arg(t[0], 2, 16, QLatin1Char('0'))
                    .arg(t[1], 2, 16, QLatin1Char('0'))
                    .arg(t[2], 2, 16, QLatin1Char('0'));
    } else {
        line += QStringLiteral(" date=- code=-");
    }
    line += QStringLiteral(" control=%1").arg(controlState_ < 0 ? QStringLiteral("-") : QString::number(controlState_));
    line += QStringLiteral(" calmode=%1 cleared=%2").arg(calMode_ ? 1 : 0).arg(cleared_ ? 1 : 0);
    for (std::size_t i = 0; i < volts_.size(); ++i)
        line += QStringLiteral(" V%1=%2").arg(i + 1).arg(volts_[i] ? QString::number(*volts_[i]) : QStringLiteral("-"));
    for (std::size_t i = 0; i < amps_.size(); ++i)
        line += QStringLiteral(" I%1=%2").arg(i + 1).arg(amps_[i] ? QString::number(*amps_[i]) : QStringLiteral("-"));
    line += QStringLiteral(" frames=%1 answers=%2").arg(frames_).arg(answersSent_);
    return line;
}

void PsuSim::printState() const { Print(stateLine()); }
