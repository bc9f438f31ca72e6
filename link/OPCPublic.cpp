// Frame codecs: checksum, hexadecimal text, model table, serial encoder and answer validity.
#include "OPCPublic.h"

namespace {

constexpr std::uint32_t PlainTestCode = 0x020101;

constexpr std::array<ModelFacts, 6> ModelTable{{
    {"7211B", "7211b", "Power 7211B", PlainTestCode, {0, 0, 0, 19.0, 19.0, 0, 5.1}},
    {"7212B", "7212b", "Power 7212B", 0x020102, {0, 0, 0, 37.0, 20.0, 0, 3.1}},
    {"7213B", "7213b", "Power 7213B", 0x020103, {0, 0, 0, 73.0, 20.0, 0, 1.6}},
    {"7221B", "7221b", nullptr, PlainTestCode, {}},
    {"7222B", "7222b", nullptr, PlainTestCode, {}},
    {"7223B", "7223b", nullptr, PlainTestCode, {}},
}};

// Only the characters that serial digits and model tags are made of may reach a frame.
bool FrameCharacter(char c, std::uint8_t* out)
{
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'c')) {
        *out = static_cast<std::uint8_t>(c);
        return true;
    }
    return false;
}

}  // namespace

std::uint8_t FrameChecksum(const TPsuFrame& frame)
{
    unsigned sum = 0;
    for (int i = 0; i < TPsuFrame::ChecksumIndex; ++i) sum += frame[i];
    return static_cast<std::uint8_t>(sum & 0xFF);
}

void SealFrame(TPsuFrame& frame) { frame[TPsuFrame::ChecksumIndex] = FrameChecksum(frame); }

QString FrameToHex(const TPsuFrame& frame)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    QString text;
    text.reserve(TPsuFrame::Size * 3);
    for (std::uint8_t b : frame.bytes) {
        text += QLatin1Char(' ');
        text += QLatin1Char(Digits[b >> 4]);
        text += QLatin1Char(Digits[b & 0x0F]);
    }
    return text;
}

const std::array<ModelFacts, 6>& Models() { return ModelTable; }

const ModelFacts* ModelFactsOf(std::uint8_t modelCode)
{
    const unsigned index = modelCode & 0x7Fu;
    return index < ModelTable.size() ? &ModelTable[index] : nullptr;
}

QString ModelName(std::uint8_t modelCode)
{
    const unsigned index = modelCode & 0x7Fu;
    if (index < ModelTable.size()) return QString::fromLatin1(ModelTable[index].name);
    return QStringLiteral("Unknown");
}

std::optional<std::uint8_t> ModelCodeOf(const QString& name)
{
    for (std::size_t code = 0; code < ModelTable.size(); ++code)
        if (name == QLatin1String(ModelTable[code].name)) return static_cast<std::uint8_t>(code);
    return std::nullopt;
}

bool EncodeSerialAndModel(std::uint8_t modelCode, std::uint32_t serial, TPsuFrame& frame)
{
    if (serial > MaxSerialNumber) return false;
    const QByteArray digits = QByteArray::number(serial).rightJustified(6, '0', true);
    for (int i = 0; i < 6; ++i) {
        std::uint8_t b = 0;
        FrameCharacter(digits[i], &b);
        frame.data(i) = b;
    }
    // A code outside the table has no tag; its five bytes stay 0 rather than carrying a guess.
    const unsigned index = modelCode & 0x7Fu;
    for (int i = 0; i < 5; ++i) {
        std::uint8_t b = 0;
        if (index < ModelTable.size()) FrameCharacter(ModelTable[index].tag[i], &b);
        frame.data(6 + i) = b;
    }
    return true;
}

bool IsValidReply(const TPsuFrame& reply, int configuredAddress, const TPsuFrame& lastSent)
{
    return reply[0] == FrameStart && static_cast<int>(reply[1]) == configuredAddress &&
           reply[TPsuFrame::ChecksumIndex] == FrameChecksum(reply) && reply[1] == lastSent[1];
}

void PutVoltageMv(TPsuFrame& frame, std::int32_t millivolts)
{
    const auto mv = static_cast<std::uint32_t>(millivolts);
    for (int i = 0; i < 4; ++i) frame.data(i) = static_cast<std::uint8_t>((mv >> (8 * i)) & 0xFF);
}

void PutCurrentMa(TPsuFrame& frame, std::int32_t milliamperes)
{
    const std::uint16_t ma = CurrentOnTheWire(milliamperes);
    frame.data(0) = static_cast<std::uint8_t>(ma & 0xFF);
    frame.data(1) = static_cast<std::uint8_t>((ma >> 8) & 0xFF);
}

std::uint16_t CurrentOnTheWire(std::int32_t milliamperes) { return static_cast<std::uint16_t>(static_cast<std::uint32_t>(milliamperes) & 0xFFFFu); }

void PutCalibrationMode(TPsuFrame& frame, bool enter)
{
    frame.data(0) = CalAccessCode[0];
    frame.data(1) = CalAccessCode[1];
    frame.data(2) = enter ? 1 : 0;
}

TPsuFrame MakeFrame(int address, std::uint8_t command)
{
    TPsuFrame f;
    f[0] = FrameStart;
    f[1] = static_cast<std::uint8_t>(address & 0xFF);
    f[2] = command;
    SealFrame(f);
    return f;
}
