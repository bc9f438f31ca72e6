// Reading and writing keys of one private-profile (INI) file without disturbing the rest of it.
#pragma once

#include "WholeFile.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QtGlobal>

// Each call opens the file, reads or rewrites it and releases it again; nothing is cached.
// Section and key names match regardless of letter case; the first matching section and the
// first matching key in it win. Lines the parser does not understand are skipped when reading
// and kept byte for byte when writing.
class IniFile {
public:
    // Values longer than this are cut when read.
    static constexpr int MaxValueLength = 2047;

    explicit IniFile(QString path);

    const QString& fileName() const { return path_; }
    // Whether the file is there and can be read; *why says what is wrong when it cannot.
    FileState state(QString* why = nullptr) const;

    QString ReadString(const QString& section, const QString& key, const QString& defaultValue) const;
    // Decimal with a sign, or hexadecimal after "0x", "$" or "x"; other text gives the default.
    qint32 ReadInteger(const QString& section, const QString& key, qint32 defaultValue) const;
    // An integer; any non-zero value is true.
    bool ReadBool(const QString& section, const QString& key, bool defaultValue) const;

    // Each write replaces the file whole or not at all; failures throw AppError "Unable to write to
    // <path>". A file that is there but cannot be read is never replaced.
    void WriteString(const QString& section, const QString& key, const QString& value);
    // Several keys of one section in one replacement of the file: all of them or none.
    void WriteStrings(const QString& section, const QList<QPair<QString, QString>>& values);
    void WriteInteger(const QString& section, const QString& key, qint32 value);
    void WriteBool(const QString& section, const QString& key, bool value);

private:
    QString path_;
};
