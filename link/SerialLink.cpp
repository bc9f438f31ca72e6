// The serial port link: opening, writing frames, port events and the hand-over of whole answers.
#include "SerialLink.h"

#include <exception>

namespace {
constexpr int MaxWrite = 128;
constexpr int MaxPendingOutput = 26;
constexpr int MaxChunk = 1023;
// Start bit, eight data bits, stop bit.
constexpr int BitsPerByte = 10;
constexpr int SendMarginMs = 250;
}  // namespace

SerialLink::SerialLink(SerialControl& comm, Clock& clock)
    : comm_(comm), clock_(clock), receiveWait_(clock.createTimer())
{
    receiveWait_->setHandler([this] { ReceiveWaitOver(); });
    comm_.setOnComm([this] { Comm1Comm(); });
}

void SerialLink::Log(const QString& line)
{
    if (log_) log_(line);
}

void SerialLink::Say(const QString& sentence)
{
    Log(sentence);
    if (status_) status_(sentence);
}

void SerialLink::SetDefaults()
{
    comm_.setCommPort(1);
    comm_.setSettings(QStringLiteral("9600,n,8,1"));
    comm_.setInputLen(0);
    comm_.setInBufferCount(0);
    comm_.setSThreshold(1);
    comm_.setRThreshold(1);
    comm_.setInputMode(1);
    rx_.Clear();
}

bool SerialLink::OpenPort(int port, int baud)
{
    FPortNo = static_cast<std::uint8_t>(port & 0xFF);
    FBaud = baud;
    if (port == 0) return false;
    if (comm_.portOpen()) comm_.setPortOpen(false);
    comm_.setCommPort(port);
    comm_.setSettings(QStringLiteral("%1,n,8,1").arg(baud));
    FPortOpen = comm_.setPortOpen(true) && comm_.setDTREnable(true) && comm_.setRTSEnable(true);
    // The settings dialog's box names only the port; why it stays closed is said here.
    const QString why = FPortOpen ? QString() : comm_.openFailure();
    if (!why.isEmpty()) Say(QStringLiteral("COM%1 stays closed: %2.").arg(port).arg(why));
    return FPortOpen;
}

void SerialLink::ClosePort()
{
    if (comm_.portOpen()) comm_.setPortOpen(false);
}

bool SerialLink::WriteFabData(const std::uint8_t* bytes, int length)
{
    if (length > MaxWrite || length < 0 || !FPortOpen || (bytes == nullptr && length > 0)) return false;
    std::array<std::uint8_t, MaxWrite> local{};
    std::copy(bytes, bytes + length, local.begin());
    bool ok = comm_.setOutBufferCount(0);
    for (int i = 0; ok && i < length; ++i) {
        ok = comm_.setOutput(QByteArray(1, static_cast<char>(local[static_cast<std::size_t>(i)])));
        // Never let more than one frame wait unsent.
        if (ok && comm_.outBufferCount() >= MaxPendingOutput) break;
    }
    // Queued bytes would otherwise leave only when the event loop next runs, which after a
    // blocking pause is too late.
    if (ok) ok = comm_.flushOutput();
    if (!ok) WriteFailed();
    return ok;
}

void SerialLink::WriteFailed()
{
    Log(QStringLiteral("<Error> Failed to write data to port !"));
    FPortOpen = false;
    comm_.setPortOpen(false);
}

bool SerialLink::WaitUntilSent()
{
    if (!FPortOpen || !comm_.portOpen()) return false;
    if (comm_.waitUntilSent(SendBoundMs(FBaud))) return true;
    WriteFailed();
    return false;
}

int SerialLink::SendBoundMs(int baud)
{
    const int rate = baud > 0 ? baud : 4800;
    const int lineMs = (TPsuFrame::Size * BitsPerByte * 1000 + rate - 1) / rate;
    return lineMs + SendMarginMs;
}

int SerialLink::BaudWaitMs(int baud)
{
    switch (baud) {
        case 4800: return 50;
        case 9600: return 35;
        case 19200: return 30;
        case 38400: return 15;
        default: return 50;
    }
}

void SerialLink::Comm1Comm()
{
    switch (comm_.commEvent()) {
        case CommEv::Receive:
            // The rest of an answer gets its time to arrive, though not in a loop inside this
            // handler: on a chatty line every chunk would start another handler inside the last.
            // Events during the wait are covered by it. The wait is over once strictly more
            // than its time has passed.
            if (!receiveWait_->isActive()) {
                receiveWait_->setInterval(BaudWaitMs(FBaud) + 1);
                receiveWait_->start();
            }
            break;
        case CommEv::Frame:
            Log(QStringLiteral("<Message> 帧错误"));
            ResetPort();
            break;
        case CommEv::RxOver:
            comm_.setInBufferCount(0);
            Log(QStringLiteral("<Message> 接收缓冲区溢出"));
            break;
        case CommEv::RxParity:
            Log(QStringLiteral("<Message> 寄偶校验错"));
            break;
        case CommEv::TxFull:
            comm_.setOutBufferCount(0);
            Log(QStringLiteral("<Message> 发送缓冲区溢出"));
            break;
        case CommEv::Dcb:
            Log(QStringLiteral("<Message> 检索端口的设备控制块时的意外错误"));
            break;
        case CommEv::HangUp:
            // The control has already closed the port; writes stop and the run times out.
            FPortOpen = false;
            Log(QStringLiteral("<Message> 端口已断开"));
            Say(QStringLiteral("The port of the supply is gone: the cable or the adapter was unplugged."));
            break;
        default:
            break;
    }
}

void SerialLink::ReceiveWaitOver()
{
    // An answer whose handling shows a box lets events in; the bytes wait for the next round.
    if (handingOn_) return;
    receiveWait_->stop();
    handingOn_ = true;
    try {
        const int n = comm_.inBufferCount();
        const QByteArray waiting = comm_.input();
        ReceiveChunk(waiting.left(n), n);
    } catch (...) {
        // A failure anywhere in reception or reply handling only costs this answer.
        comm_.setInBufferCount(0);
    }
    handingOn_ = false;
}

void SerialLink::ReceiveChunk(const QByteArray& chunk, int n)
{
    if (n < 1 || n > MaxChunk || chunk.size() < n) return;
    const int mode = runMode_ ? runMode_() : 0;
    if (mode != 1 && mode != 3) return;
    ReassembleReply(reinterpret_cast<const std::uint8_t*>(chunk.constData()), n);
}

void SerialLink::ReassembleReply(const std::uint8_t* chunk, int n)
{
    if (n < 1 || n > MaxChunk) return;
    TPsuFrame reply;
    if (!rx_.Push(chunk, n, &reply)) return;
    FReply = reply;
    FLogText = QStringLiteral("Rece : ") + FrameToHex(FReply);
    Log(FLogText);
    if (handleReply_) handleReply_();
}

void SerialLink::ResetPort()
{
    if (!comm_.portOpen()) return;
    comm_.setPortOpen(false);
    comm_.setInBufferCount(0);
    comm_.setOutBufferCount(0);
    clock_.SleepBlocking(10);
    comm_.setPortOpen(true);
}
