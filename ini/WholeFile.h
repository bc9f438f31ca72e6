// Files that appear whole or not at all: written beside their place, synced, then renamed over it.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

class WholeFile {
public:
    explicit WholeFile(QString path);
    ~WholeFile();
    WholeFile(const WholeFile&) = delete;
    WholeFile& operator=(const WholeFile&) = delete;

    // Refuses a path that is a symbolic link in a folder others may write (the bytes would go
    // wherever someone else points it) or not a regular file (a FIFO would hang the writer), then
    // opens a new file beside it. A link in a folder of the user's own stands for the file it
    // points at, which is then the one replaced.
    bool open();
    // Where the bytes go until commit(). Writes are buffered: one that fails may show only there.
    QFile* device() { return &file_; }
    // Flushes and syncs the bytes and puts the file in place of the old one. False when anything
    // failed: the old file is then as it was and the new one is gone.
    bool commit();
    // Throws the new bytes away; the old file stays as it was.
    void cancel();
    QString errorString() const { return error_; }
    const QString& fileName() const { return path_; }
    // Why commit() failed: the rename over the old file was refused, everything before it worked.
    bool renameRefused() const { return renameRefused_; }
    // The file's group may write it, also where the old one did not let it; before open().
    void setGroupWrites(bool on) { groupWrites_ = on; }

private:
    bool fail(const QString& why);

    QString path_;
    QString target_;  // the file replaced: the path, or what the user's own link points at
    QString temp_;
    int fd_ = -1;
    QFile file_;
    QString error_;
    bool renameRefused_ = false;
    bool groupWrites_ = false;
};

// `bytes` as the whole new content of `path`, or nothing changed and *error set. With
// `sharedInPlace`, a file of a bench's shared folder: its group may write it, and a small one whose
// owner is another operator (whom a sticky folder lets nobody else replace) is rewritten in place
// instead, its room claimed before its first byte changes.
bool WriteWholeFile(const QString& path, const QByteArray& bytes, QString* error, bool sharedInPlace = false);

// What is at `path` when it is read as a file of settings.
enum class FileState { Missing, Regular, Unreadable };
// Reads a regular file whole. A FIFO, a device or a folder is not opened at all, so that reading
// never hangs; *why says what was there instead or why it could not be read.
FileState ReadWholeFile(const QString& path, QByteArray* bytes, QString* why);

// Whether users besides the owner may write in `dir` (a bench's operators in its group, say): the
// files there are shared, and a link or a path found there may be someone else's doing.
bool IsSharedFolder(const QString& dir);
