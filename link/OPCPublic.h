// Frame record types and the codecs shared by the link, the run engine and the clearing run.
#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// One command or answer frame: 0xAA, address, command, 22 data bytes, checksum.
struct TPsuFrame {
    static constexpr int Size = 26;
    static constexpr int DataOffset = 3;
    static constexpr int DataSize = 22;
    static constexpr int ChecksumIndex = 25;

    std::array<std::uint8_t, Size> bytes{};

    std::uint8_t& operator[](int i) { return bytes[static_cast<std::size_t>(i)]; }
    std::uint8_t operator[](int i) const { return bytes[static_cast<std::size_t>(i)]; }
    // Data byte k is frame byte 3 + k.
    std::uint8_t& data(int k) { return (*this)[DataOffset + k]; }
    std::uint8_t data(int k) const { return (*this)[DataOffset + k]; }
    std::uint8_t address() const { return (*this)[1]; }
    std::uint8_t command() const { return (*this)[2]; }

    friend bool operator==(const TPsuFrame&, const TPsuFrame&) = default;
};
static_assert(sizeof(TPsuFrame) == TPsuFrame::Size, "a frame is exactly 26 bytes");

using TSendQueue = std::vector<TPsuFrame>;

constexpr std::uint8_t FrameStart = 0xAA;

// Command codes of the protocol.
namespace Cmd {
constexpr std::uint8_t ControlState = 0x82;
constexpr std::uint8_t CalibrationMode = 0x83;
constexpr std::uint8_t SelectVoltagePoint = 0x85;
constexpr std::uint8_t VoltageValue = 0x86;
constexpr std::uint8_t SelectCurrentPoint = 0x87;
constexpr std::uint8_t CurrentValue = 0x88;
constexpr std::uint8_t TestingInfo = 0x89;
constexpr std::uint8_t SerialAndModel = 0x8B;
constexpr std::uint8_t ReadSerial = 0x8C;
constexpr std::uint8_t ClearCalibration = 0x8D;
constexpr std::uint8_t ClearingAnswer = 0x12;
}  // namespace Cmd

// The supply accepts a calibration-mode switch only with these two bytes in data bytes 0 and 1.
constexpr std::array<std::uint8_t, 2> CalAccessCode{0x5A, 0xA5};

// The largest serial number the six-digit field of the 0x8B frame can carry.
constexpr std::uint32_t MaxSerialNumber = 999999;

// Sum of bytes 0..24 modulo 256; callers store it in byte 25 after the last change.
std::uint8_t FrameChecksum(const TPsuFrame& frame);
// Recomputes byte 25.
void SealFrame(TPsuFrame& frame);
// " AA 01 8C ..." : each byte preceded by one blank, upper-case hex, 78 characters.
QString FrameToHex(const TPsuFrame& frame);
// What the program knows of a model of the series: the one table the frame codecs, the points'
// levels, the settings and the testing information read, by model code.
struct ModelFacts {
    const char* name;        // "7212B", as the record and the screens name it
    const char* tag;         // "7212b", written into the supply beside its serial number
    const char* choice;      // "Power 7212B", as the settings offer it; null for a model not offered
    std::uint32_t testCode;  // the testing information written with the date
    // The model's own output at each of the seven points, in volts or amperes; 0 where the level
    // is every model's (the points' table holds it) or the model is not calibrated here.
    std::array<double, 7> levels;
};
const std::array<ModelFacts, 6>& Models();
// The facts of a model code (top bit ignored); null outside the table.
const ModelFacts* ModelFactsOf(std::uint8_t modelCode);

// Model name of a model code (top bit ignored); "Unknown" outside the table.
QString ModelName(std::uint8_t modelCode);
// The code of a model by its name, as the record keeps it; none for a name no model has.
std::optional<std::uint8_t> ModelCodeOf(const QString& name);
// Writes data bytes 0..10 of a 0x8B frame: six serial digits and the five-character model tag.
// Refuses (returns false, frame untouched) a serial number above MaxSerialNumber.
bool EncodeSerialAndModel(std::uint8_t modelCode, std::uint32_t serial, TPsuFrame& frame);
// Start byte, address (configured and last written) and checksum; the command is judged elsewhere.
bool IsValidReply(const TPsuFrame& reply, int configuredAddress, const TPsuFrame& lastSent);
// Builds a frame: start byte, low byte of the address, command, zero data, checksum.
TPsuFrame MakeFrame(int address, std::uint8_t command);

// Data-field writers; like every change to a built frame, they leave the checksum to the caller.
// Voltage in millivolts: data bytes 0..3, 32-bit two's complement, least significant first.
void PutVoltageMv(TPsuFrame& frame, std::int32_t millivolts);
// Current in milliamperes: the low 16 bits in data bytes 0..1, least significant first.
void PutCurrentMa(TPsuFrame& frame, std::int32_t milliamperes);
// The current the supply receives for `milliamperes`, as those two bytes carry it (0..65535).
std::uint16_t CurrentOnTheWire(std::int32_t milliamperes);
// Calibration-mode switch: the access code in data bytes 0..1, then 1 to enter or 0 to leave.
void PutCalibrationMode(TPsuFrame& frame, bool enter);
