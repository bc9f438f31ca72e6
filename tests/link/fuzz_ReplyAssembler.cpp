// Fuzz target for the receive path: arbitrary chunk sequences must never break the 26-byte reassembly.
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

}  // namespace

// Input: records of [run mode selector][length selector][chunk bytes]. Length selectors 0..0xFD
// give 0..39 bytes, 0xFE gives 26 + 4 * next byte, 0xFF gives 1024, so every path is reachable.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FakeSerialControl comm;
    FakeClock clock;
    SerialLink link(comm, clock);
    static constexpr int Modes[4] = {1, 3, 1, 0};
    int mode = 1;
    int handOvers = 0;
    link.setRunModeSource([&mode] { return mode; });
    link.setReplyHandler([&handOvers] { ++handOvers; });

    std::size_t at = 0;
    while (at + 2 <= size) {
        mode = Modes[data[at] & 3];
        const std::uint8_t sel = data[at + 1];
        at += 2;
        std::size_t n = sel % 40;
        if (sel == 0xFE && at < size) n = 26 + 4u * data[at++];
        if (sel == 0xFF) n = 1024;
        QByteArray chunk(reinterpret_cast<const char*>(data + at), static_cast<int>(std::min(n, size - at)));
        if (static_cast<std::size_t>(chunk.size()) < n) chunk.append(QByteArray(static_cast<int>(n) - chunk.size(), '\xAA'));
        at += std::min(n, size - at);

        const int heldBefore = link.FRxCount();
        const auto before = link.rx().buffer();
        const int handedBefore = handOvers;
        link.ReceiveChunk(chunk, static_cast<int>(chunk.size()));
        const int handed = handOvers - handedBefore;
        const int len = static_cast<int>(chunk.size());
        const bool used = len >= 1 && len <= 1023 && (mode == 1 || mode == 3);

        Require(handed <= 1);
        Require(link.FRxCount() >= 0 && link.FRxCount() < TPsuFrame::Size);
        if (!used) {
            Require(handed == 0 && link.FRxCount() == heldBefore && link.rx().buffer() == before);
            continue;
        }
        if (handed == 1) {
            // A hand-over takes exactly 26 bytes: the chunk's first 26, or the held bytes and the chunk.
            Require(link.FRxCount() == 0);
            const std::uint8_t* reply = link.FReply.bytes.data();
            if (len >= TPsuFrame::Size) {
                Require(std::memcmp(reply, chunk.constData(), TPsuFrame::Size) == 0);
            } else {
                Require(heldBefore + len == TPsuFrame::Size);
                Require(std::memcmp(reply, before.data(), static_cast<std::size_t>(heldBefore)) == 0);
                Require(std::memcmp(reply + heldBefore, chunk.constData(), static_cast<std::size_t>(len)) == 0);
            }
        } else {
            Require(len < TPsuFrame::Size);
            Require(link.FRxCount() == 0 || link.FRxCount() == len || link.FRxCount() == heldBefore + len);
        }
        // What is not held is zero.
        const auto& buf = link.rx().buffer();
        for (int i = link.FRxCount(); i < TPsuFrame::Size; ++i) Require(buf[static_cast<std::size_t>(i)] == 0);
    }
    return 0;
}
