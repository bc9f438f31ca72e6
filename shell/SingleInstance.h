// The single-instance rule: the first start owns a socket in a folder only its user can write,
// later starts ask it to come forward.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>

class QSocketNotifier;

// The message a second start sends to the running instance, both parameters 0.
constexpr std::uint32_t WM_RESTORE_INSTANCE = 0x7EA;

// The main window's class name: the GBK bytes of "电源电压标定及性能测试", zero-filled to 64 bytes.
QByteArray MainWindowClass();

class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role { Primary, Secondary, Failed };

    // Size of one message on the wire: a tag, the message and its two parameters.
    static constexpr int MessageSize = 16;

    // A folder of the instance's own, `name` in `parent`. Nobody else may replace it, so `parent`
    // must be this user's and written by nobody else (Own: the runtime or home folder), or shared
    // but sticky (Sticky: /tmp).
    struct Place {
        enum class Parent { Own, Sticky };
        QString parent;
        QString name;
        Parent kind = Parent::Own;
    };
    // korvex-calibrator in $XDG_RUNTIME_DIR while that folder is fit to use; otherwise
    // korvex-calibrator-<uid> in the temporary folder, then .korvex-calibrator-<host> in the home
    // folder for when another user has taken that name first.
    static QList<Place> Places();
    // The socket in a place's folder.
    static QString SocketPath(const Place& place);

    explicit SingleInstance(QList<Place> places = Places(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // Either owns the socket of the first place fit to use (Primary) or delivers
    // WM_RESTORE_INSTANCE to the instance of this user that owns one (Secondary). Failed when no
    // place is fit to use or the owner does not answer after a few tries; problems() says why.
    Role Claim();
    // Why places were passed by, one line each, and why a claim failed.
    const QStringList& problems() const { return problems_; }

    static QByteArray EncodeMessage(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam);
    // Sends one message to the instance owning `socketPath`; false when nobody of this user accepted
    // it. A timeout of 0 does not wait for an owner whose backlog is full.
    static bool PostInstanceMessage(const QString& socketPath, std::uint32_t message, std::uint32_t wParam,
                                    std::uint32_t lParam, int timeoutMs = 1000);

    // The socket owned or reached; empty before a claim that did either.
    const QString& socketPath() const { return socketPath_; }
    bool isListening() const;

signals:
    // A second start asked the running instance to come forward.
    void restoreRequested();

private:
    class Connection;

    bool listen(const QString& path, int lockFd);
    void stopListening();
    void onNewConnection();

    QList<Place> places_;
    QStringList problems_;
    QString socketPath_;
    int fd_ = -1;      // the listening socket, once the place is ours
    int lockFd_ = -1;  // held for as long as the socket is ours; a killed owner lets go of it with its life
    QSocketNotifier* listener_ = nullptr;
};
