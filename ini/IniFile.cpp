// Private-profile file access: line-preserving parser, case-blind lookup and atomic rewrite.
#include "IniFile.h"

#include "AppError.h"
#include "IntText.h"

#include "WholeFile.h"

#include <QFileInfo>

#include <vector>

namespace {

struct IniLine {
    enum Kind { Other, Section, Key };

    QByteArray text;  // without its line ending
    QByteArray eol;   // "\r\n", "\n", or empty for a last line without one
    Kind kind = Other;
    QString name;             // section or key name, blanks trimmed
    qsizetype valueStart = 0;  // for a key: first byte after its '='
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

void Classify(IniLine& line, bool firstLine)
{
    const QByteArray& t = line.text;
    qsizetype i = 0;
    // An editor may have put a byte-order mark in front of the first section header.
    if (firstLine && t.startsWith("\xEF\xBB\xBF")) i = 3;
    while (i < t.size() && IsBlank(t[i])) ++i;
    if (i >= t.size() || t[i] == ';') return;

    if (t[i] == '[') {
        const qsizetype close = t.indexOf(']', i + 1);
        if (close < 0) return;  // a broken header is neither a section nor a key
        line.kind = IniLine::Section;
        line.name = QString::fromUtf8(t.mid(i + 1, close - i - 1)).trimmed();
        return;
    }

    const qsizetype eq = t.indexOf('=', i);
    if (eq < 0) return;
    const QString name = QString::fromUtf8(t.mid(i, eq - i)).trimmed();
    if (name.isEmpty()) return;
    line.kind = IniLine::Key;
    line.name = name;
    line.valueStart = eq + 1;
}

std::vector<IniLine> Parse(const QByteArray& data)
{
    std::vector<IniLine> lines;
    qsizetype pos = 0;
    while (pos < data.size()) {
        IniLine line;
        const qsizetype nl = data.indexOf('\n', pos);
        if (nl < 0) {
            line.text = data.mid(pos);
            pos = data.size();
        } else if (nl > pos && data[nl - 1] == '\r') {
            line.text = data.mid(pos, nl - 1 - pos);
            line.eol = "\r\n";
            pos = nl + 1;
        } else {
            line.text = data.mid(pos, nl - pos);
            line.eol = "\n";
            pos = nl + 1;
        }
        Classify(line, lines.empty());
        lines.push_back(std::move(line));
    }
    return lines;
}

// Lines added to an existing file follow its own convention; a new file gets CR LF.
QByteArray LineEnding(const QByteArray& data)
{
    const qsizetype nl = data.indexOf('\n');
    if (nl < 0) return QByteArrayLiteral("\r\n");
    return (nl > 0 && data[nl - 1] == '\r') ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
}

bool SameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

// Index of the first header named `section`, or -1.
qsizetype FindSection(const std::vector<IniLine>& lines, const QString& section)
{
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].kind == IniLine::Section && SameName(lines[i].name, section))
            return static_cast<qsizetype>(i);
    return -1;
}

// One past the last line that belongs to the section whose header is at `header`.
qsizetype SectionEnd(const std::vector<IniLine>& lines, qsizetype header)
{
    auto i = static_cast<std::size_t>(header) + 1;
    while (i < lines.size() && lines[i].kind != IniLine::Section) ++i;
    return static_cast<qsizetype>(i);
}

qsizetype FindKey(const std::vector<IniLine>& lines, qsizetype header, const QString& key)
{
    const qsizetype end = SectionEnd(lines, header);
    for (qsizetype i = header + 1; i < end; ++i) {
        const IniLine& line = lines[static_cast<std::size_t>(i)];
        if (line.kind == IniLine::Key && SameName(line.name, key)) return i;
    }
    return -1;
}

// A line break inside a name or value would split it into lines of its own on the next read.
QByteArray OneLine(const QString& text)
{
    QByteArray bytes = text.toUtf8();
    bytes.replace('\r', ' ');
    bytes.replace('\n', ' ');
    return bytes;
}

[[noreturn]] void FailWrite(const QString& path)
{
    throw AppError(QStringLiteral("Unable to write to %1").arg(QFileInfo(path).absoluteFilePath()));
}

// A file that is there but cannot be read gives every default, as a missing one does; only a
// writer must tell the two apart.
std::vector<IniLine> ReadLines(const QString& path)
{
    QByteArray data;
    ReadWholeFile(path, &data, nullptr);
    return Parse(data);
}

}  // namespace

IniFile::IniFile(QString path) : path_(std::move(path)) {}

QString IniFile::ReadString(const QString& section, const QString& key, const QString& defaultValue) const
{
    const std::vector<IniLine> lines = ReadLines(path_);

    const qsizetype header = FindSection(lines, section);
    if (header < 0) return defaultValue;
    const qsizetype at = FindKey(lines, header, key);
    if (at < 0) return defaultValue;

    const IniLine& line = lines[static_cast<std::size_t>(at)];
    return QString::fromUtf8(line.text.mid(line.valueStart)).trimmed().left(MaxValueLength);
}

qint32 IniFile::ReadInteger(const QString& section, const QString& key, qint32 defaultValue) const
{
    QString text = ReadString(section, key, QString());
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X'))
        text = QLatin1Char('$') + text.mid(2);
    qint32 value = defaultValue;
    return TryStrToInt(text, &value) ? value : defaultValue;
}

bool IniFile::ReadBool(const QString& section, const QString& key, bool defaultValue) const
{
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

namespace {

// `data` with `key` of `section` set to `value`, every other byte as it was.
QByteArray WithKey(const QByteArray& data, const QString& section, const QString& key, const QString& value)
{
    std::vector<IniLine> lines = Parse(data);
    const QByteArray eol = LineEnding(data);
    const QByteArray valueBytes = OneLine(value);
    const QByteArray keyLine = OneLine(key.trimmed()) + '=' + valueBytes;

    auto insertAt = [&](qsizetype index, QByteArray text) {
        auto pos = static_cast<std::size_t>(index);
        if (pos > 0 && lines[pos - 1].eol.isEmpty()) lines[pos - 1].eol = eol;
        IniLine line;
        line.text = std::move(text);
        line.eol = eol;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(pos), std::move(line));
    };

    const qsizetype header = FindSection(lines, section);
    if (header < 0) {
        const auto end = static_cast<qsizetype>(lines.size());
        insertAt(end, '[' + OneLine(section.trimmed()) + ']');
        insertAt(end + 1, keyLine);
    } else if (const qsizetype at = FindKey(lines, header, key); at >= 0) {
        IniLine& line = lines[static_cast<std::size_t>(at)];
        line.text = line.text.left(line.valueStart) + valueBytes;
    } else {
        // After the section's last key, so comments and blank lines that lead into the next
        // section stay with it.
        qsizetype after = header;
        const qsizetype end = SectionEnd(lines, header);
        for (qsizetype i = header + 1; i < end; ++i)
            if (lines[static_cast<std::size_t>(i)].kind == IniLine::Key) after = i;
        insertAt(after + 1, keyLine);
    }

    QByteArray out;
    out.reserve(data.size() + keyLine.size() + section.size() + 8);
    for (const IniLine& line : lines) out += line.text + line.eol;
    return out;
}

}  // namespace

void IniFile::WriteString(const QString& section, const QString& key, const QString& value)
{
    WriteStrings(section, {{key, value}});
}

void IniFile::WriteStrings(const QString& section, const QList<QPair<QString, QString>>& values)
{
    if (section.trimmed().isEmpty()) FailWrite(path_);
    for (const auto& [key, value] : values)
        if (key.trimmed().isEmpty()) FailWrite(path_);

    QByteArray data;
    // Rewriting a file that could not be read would throw its content away.
    if (ReadWholeFile(path_, &data, nullptr) == FileState::Unreadable) FailWrite(path_);
    for (const auto& [key, value] : values) data = WithKey(data, section, key, value);
    // A crash or a full disk leaves the old file or the new one, never a part of either.
    if (!WriteWholeFile(path_, data, nullptr, true)) FailWrite(path_);
}

FileState IniFile::state(QString* why) const
{
    QByteArray data;
    return ReadWholeFile(path_, &data, why);
}

void IniFile::WriteInteger(const QString& section, const QString& key, qint32 value)
{
    WriteString(section, key, QString::number(value));
}

void IniFile::WriteBool(const QString& section, const QString& key, bool value)
{
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}
