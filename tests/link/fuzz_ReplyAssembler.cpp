// Fuzz target for the receive path: bytes at any rate and in any pieces, through the port event, the
// receive wait and the reassembly, are handed on only as the 26 bytes the reassembly rules take, and
// never by one handler inside another.
#include "FakeClock.h"
#include "FakeSerialControl.h"
#include "SerialLink.h"

#include <cstdlib>
#include <cstring>

namespace {

void Require(bool condition)
{
    if (!condition) std::abort();
}

struct WatchedControl : FakeSerialControl {
    std::function<void(const QByteArray&)> onRead;
    QByteArray input() override
    {
        const QByteArray bytes = FakeSerialControl::input();
        if (onRead) onRead(bytes);
        return bytes;
    }
};

}  // namespace

// Input: [line][records of [run mode][length][gap][chunk bytes]]. Line: the low 2 bits pick the
// baud rate, the rest x 8 ms is how long each hand-over lets events in (as a box it opens does).
// Length selectors 0..0xFD give 0..39 bytes, 0xFE gives 26 + 4 * next byte, 0xFF gives 1024; the
// gap is the virtual time in ms before the next chunk arrives.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    WatchedControl comm;
    FakeClock clock;
    SerialLink link(comm, clock);
    static constexpr int Bauds[4] = {4800, 9600, 19200, 38400};
    static constexpr int Modes[4] = {1, 3, 1, 0};
    link.OpenPort(1, Bauds[data[0] & 3]);
    const int handOverMs = (data[0] >> 2) * 8;
    int mode = 1;
    link.setRunModeSource([&mode] { return mode; });

    // The read being handed on: what was held before it, the bytes, the run mode, its hand-overs.
    int heldBefore = 0;
    std::array<std::uint8_t, TPsuFrame::Size> before{};
    QByteArray chunk;
    int modeAtRead = 0;
    int handed = 0;
    bool arriving = false;
    bool handingOver = false;
    auto checkRead = [&] {
        const int len = static_cast<int>(chunk.size());
        Require(handed <= 1 && link.FRxCount() >= 0 && link.FRxCount() < TPsuFrame::Size);
        if (len < 1 || len > 1023 || (modeAtRead != 1 && modeAtRead != 3))
            Require(handed == 0 && link.FRxCount() == heldBefore && link.rx().buffer() == before);
        else if (handed == 0)
            Require(len < TPsuFrame::Size && (link.FRxCount() == 0 || link.FRxCount() == len || link.FRxCount() == heldBefore + len));
        const auto& buf = link.rx().buffer();
        for (int i = link.FRxCount(); i < TPsuFrame::Size; ++i) Require(buf[static_cast<std::size_t>(i)] == 0);
    };
    comm.onRead = [&](const QByteArray& bytes) {
        Require(!handingOver);
        checkRead();
        heldBefore = link.FRxCount();
        before = link.rx().buffer();
        chunk = bytes;
        modeAtRead = mode;
        handed = 0;
    };
    link.setReplyHandler([&] {
        Require(!handingOver);
        ++handed;
        // Exactly 26 bytes: the read's first 26, or the held bytes and the read.
        const std::uint8_t* reply = link.FReply.bytes.data();
        const int len = static_cast<int>(chunk.size());
        if (len >= TPsuFrame::Size) {
            Require(std::memcmp(reply, chunk.constData(), TPsuFrame::Size) == 0);
        } else {
            Require(heldBefore + len == TPsuFrame::Size);
            Require(std::memcmp(reply, before.data(), static_cast<std::size_t>(heldBefore)) == 0);
            Require(std::memcmp(reply + heldBefore, chunk.constData(), static_cast<std::size_t>(len)) == 0);
        }
        handingOver = true;
        clock.advance(handOverMs);
        handingOver = false;
    });

    qint64 at_ms = 0;
    std::size_t at = 1;
    while (at + 3 <= size) {
        const int chunkMode = Modes[data[at] & 3];
        const std::uint8_t sel = data[at + 1];
        const int gap = data[at + 2];
        at += 3;
        std::size_t n = sel % 40;
        if (sel == 0xFE && at < size) n = 26 + 4u * data[at++];
        if (sel == 0xFF) n = 1024;
        QByteArray bytes(reinterpret_cast<const char*>(data + at), static_cast<int>(std::min(n, size - at)));
        if (static_cast<std::size_t>(bytes.size()) < n) bytes.append(QByteArray(static_cast<int>(n) - bytes.size(), '\xAA'));
        at += std::min(n, size - at);
        clock.scheduleIn(at_ms, [&, chunkMode, bytes] {
            // A port event is never handled inside another one's handler.
            Require(!arriving);
            arriving = true;
            mode = chunkMode;
            comm.inject(bytes);
            arriving = false;
        });
        at_ms += gap;
    }
    clock.advance(at_ms);
    // The line has gone quiet: whatever came is read, once the hand-overs it leads to are over.
    for (int round = 0; round < 1000 && (round == 0 || comm.inBufferCount() > 0); ++round) clock.advance(60 + handOverMs);
    checkRead();
    Require(comm.inBufferCount() == 0);
    return 0;
}
