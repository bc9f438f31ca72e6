// Gathers received chunks into whole 26-byte answers.
#pragma once

#include "OPCPublic.h"

#include <cstdint>

class ReplyAssembler {
public:
    // Chunks of 1..1023 bytes; returns true and fills *reply when an answer is complete.
    bool Push(const std::uint8_t* chunk, int n, TPsuFrame* reply);
    void Clear();
    int count() const { return count_; }
    const std::array<std::uint8_t, TPsuFrame::Size>& buffer() const { return buffer_; }

private:
    std::array<std::uint8_t, TPsuFrame::Size> buffer_{};
    int count_ = 0;
};
