// Prints how fast the receive path and the frame codecs run: chunks reassembled and frames
// rendered per second. Figures only; nothing here passes or fails.
#include "OPCPublic.h"
#include "ReplyAssembler.h"

#include <QString>

#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

namespace {

template <typename F>
double SecondsFor(F&& body)
{
    const auto start = std::chrono::steady_clock::now();
    body();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main()
{
    // A stream of answers cut at random points, as a slow line delivers them.
    std::mt19937 rng(7);
    TPsuFrame answer = MakeFrame(1, Cmd::ClearingAnswer);
    std::vector<std::uint8_t> stream;
    constexpr int Answers = 200000;
    stream.reserve(static_cast<std::size_t>(Answers) * TPsuFrame::Size);
    for (int i = 0; i < Answers; ++i) stream.insert(stream.end(), answer.bytes.begin(), answer.bytes.end());

    std::vector<int> cuts;
    for (std::size_t at = 0; at < stream.size();) {
        const int n = std::min<int>(1 + static_cast<int>(rng() % 13), static_cast<int>(stream.size() - at));
        cuts.push_back(n);
        at += static_cast<std::size_t>(n);
    }

    ReplyAssembler rx;
    long long complete = 0;
    const double rxSeconds = SecondsFor([&] {
        TPsuFrame out;
        std::size_t at = 0;
        for (int n : cuts) {
            if (rx.Push(stream.data() + at, n, &out)) ++complete;
            at += static_cast<std::size_t>(n);
        }
    });
    // Back-to-back answers cut anywhere are not what a supply sends (one answer per command), so
    // many are lost to the start-byte and overshoot rules; the figure shows how many survive.
    std::printf("reassembly: %zu chunks, %lld of %d back-to-back answers recovered in %.3f s (%.1f M chunks/s)\n",
                cuts.size(), complete, Answers, rxSeconds, cuts.size() / rxSeconds / 1e6);

    constexpr int Renders = 200000;
    qsizetype total = 0;
    const double hexSeconds = SecondsFor([&] {
        for (int i = 0; i < Renders; ++i) {
            answer[5] = static_cast<std::uint8_t>(i);
            total += FrameToHex(answer).size();
        }
    });
    std::printf("FrameToHex: %d frames (%lld chars) in %.3f s (%.2f us/frame)\n", Renders,
                static_cast<long long>(total), hexSeconds, hexSeconds / Renders * 1e6);

    constexpr int Sums = 5000000;
    unsigned acc = 0;
    const double sumSeconds = SecondsFor([&] {
        for (int i = 0; i < Sums; ++i) {
            answer[6] = static_cast<std::uint8_t>(i);
            acc += FrameChecksum(answer);
        }
    });
    std::printf("FrameChecksum: %d frames in %.3f s (%.1f ns/frame, check %u)\n", Sums, sumSeconds,
                sumSeconds / Sums * 1e9, acc & 0xFF);
    return 0;
}
