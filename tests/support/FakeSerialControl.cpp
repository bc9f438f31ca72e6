// A serial control for tests.
#include "FakeSerialControl.h"

#include <cstring>

bool FakeSerialControl::setPortOpen(bool open)
{
    if (open) {
        if (failOpen) return false;
        open_ = true;
        ++opens;
        settingsLog.push_back(settings_);
        return true;
    }
    if (open_) ++closes;
    open_ = false;
    return true;
}

bool FakeSerialControl::setDTREnable(bool on)
{
    if (failDtr) return false;
    dtr = on;
    return true;
}

bool FakeSerialControl::setRTSEnable(bool on)
{
    if (failRts) return false;
    rts = on;
    return true;
}

bool FakeSerialControl::setInBufferCount(int count)
{
    if (count == 0) in_.clear();
    return true;
}

bool FakeSerialControl::setOutBufferCount(int count)
{
    if (count == 0) pending_.clear();
    return true;
}

QByteArray FakeSerialControl::input()
{
    QByteArray all = in_;
    in_.clear();
    return all;
}

bool FakeSerialControl::setOutput(const QByteArray& bytes)
{
    if (!open_) return false;
    if (failWriteAfter >= 0 && sent.size() + pending_.size() >= failWriteAfter) return false;
    pending_.append(bytes);
    if (!holdOutput) flushPending();
    return true;
}

bool FakeSerialControl::flushOutput()
{
    if (!open_) return false;
    ++flushes;
    if (!holdOutput) flushPending();
    return true;
}

bool FakeSerialControl::waitUntilSent(int timeoutMs)
{
    waitTimeouts.push_back(timeoutMs);
    if (onWait_) onWait_();
    if (!open_) return false;
    if (!holdOutput) flushPending();
    return pending_.isEmpty();
}

void FakeSerialControl::flushPending()
{
    sent.append(pending_);
    frameBytes_.append(pending_);
    pending_.clear();
    while (frameBytes_.size() >= TPsuFrame::Size) {
        TPsuFrame f;
        std::memcpy(f.bytes.data(), frameBytes_.constData(), TPsuFrame::Size);
        frameBytes_.remove(0, TPsuFrame::Size);
        frames.push_back(f);
        if (onFrame_) onFrame_(f);
    }
}

void FakeSerialControl::inject(const QByteArray& bytes)
{
    in_.append(bytes);
    raise(CommEv::Receive);
}

void FakeSerialControl::inject(const TPsuFrame& frame)
{
    inject(QByteArray(reinterpret_cast<const char*>(frame.bytes.data()), TPsuFrame::Size));
}

void FakeSerialControl::raise(int commEvent)
{
    event_ = commEvent;
    raiseOnComm();
}
