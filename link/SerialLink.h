// The serial port link: opening, writing frames, port events and the hand-over of whole answers.
#pragma once

#include "Clock.h"
#include "OPCPublic.h"
#include "ReplyAssembler.h"
#include "SerialControl.h"

#include <QString>

#include <functional>
#include <memory>

class SerialLink {
public:
    SerialLink(SerialControl& comm, Clock& clock);

    // Hooks the owner wires: the run mode that decides whether chunks are used, the event log,
    // and the reply dispatch that reads FReply.
    void setRunModeSource(std::function<int()> source) { runMode_ = std::move(source); }
    void setLogSink(std::function<void(const QString&)> sink) { log_ = std::move(sink); }
    void setReplyHandler(std::function<void()> handler) { handleReply_ = std::move(handler); }
    // Where a sentence for the operator goes besides the event log: the status bar.
    void setStatusSink(std::function<void(const QString&)> sink) { status_ = std::move(sink); }

    // Start-up defaults of the control; the port stays closed.
    void SetDefaults();
    bool OpenPort(int port, int baud);
    void ClosePort();
    // True when the bytes went to the port; false when nothing could be written or the write failed.
    bool WriteFabData(const std::uint8_t* bytes, int length);
    bool WriteFabData(const TPsuFrame& frame, int length = TPsuFrame::Size)
    {
        return WriteFabData(frame.bytes.data(), length);
    }
    // Waits until the frame just written has left the port, at most SendBoundMs; a line that does
    // not take it fails like a write. True when the bytes are out.
    bool WaitUntilSent();
    void Comm1Comm();
    static int BaudWaitMs(int baud);
    // The longest wait for one frame to leave: its line time at the baud rate and a margin.
    static int SendBoundMs(int baud);
    void ReceiveChunk(const QByteArray& chunk, int n);
    void ReassembleReply(const std::uint8_t* chunk, int n);
    void ResetPort();
    // Empties the partial answer; the sequencer does it before frames the supply is slow to answer.
    void ClearRx() { rx_.Clear(); }

    const ReplyAssembler& rx() const { return rx_; }
    int FRxCount() const { return rx_.count(); }

    bool FPortOpen = false;
    std::uint8_t FPortNo = 0;
    int FBaud = 9600;
    TPsuFrame FReply;
    QString FLogText;

private:
    void Log(const QString& line);
    // A plain sentence for the operator: the event log and the status bar.
    void Say(const QString& sentence);
    void WriteFailed();
    // The receive wait is over: what is waiting now is read and handed on.
    void ReceiveWaitOver();

    SerialControl& comm_;
    Clock& clock_;
    ReplyAssembler rx_;
    std::function<int()> runMode_;
    std::function<void(const QString&)> log_;
    std::function<void()> handleReply_;
    std::function<void(const QString&)> status_;
    // The wait between a receive event and the read; runs from the event loop, never inside a handler.
    std::unique_ptr<Timer> receiveWait_;
    // A chunk is being handed on; the reply handling may show a box that lets further events in.
    bool handingOn_ = false;
};
