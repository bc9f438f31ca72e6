// Gathers received chunks into whole 26-byte answers.
#include "ReplyAssembler.h"

#include <algorithm>
#include <cstring>

void ReplyAssembler::Clear()
{
    buffer_.fill(0);
    count_ = 0;
}

bool ReplyAssembler::Push(const std::uint8_t* chunk, int n, TPsuFrame* reply)
{
    constexpr int Size = TPsuFrame::Size;
    if (chunk == nullptr || n < 1) return false;
    if (n >= Size) {
        Clear();
        std::memcpy(reply->bytes.data(), chunk, Size);
        return true;
    }
    if (count_ == 0) {
        std::memcpy(buffer_.data(), chunk, static_cast<std::size_t>(n));
        count_ = n;
        return false;
    }
    if (count_ + n == Size) {
        std::memcpy(buffer_.data() + count_, chunk, static_cast<std::size_t>(n));
        reply->bytes = buffer_;
        Clear();
        return true;
    }
    if (chunk[0] == FrameStart) {
        Clear();
        std::memcpy(buffer_.data(), chunk, static_cast<std::size_t>(n));
        count_ = n;
        return false;
    }
    if (count_ + n < Size) {
        std::memcpy(buffer_.data() + count_, chunk, static_cast<std::size_t>(n));
        count_ += n;
        return false;
    }
    // A continuation that overshoots 26 cannot belong to the held answer: keep neither, so the
    // next chunk starts clean instead of being glued to a fragment of unknown origin.
    Clear();
    return false;
}
