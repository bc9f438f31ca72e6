// The single-instance rule: the first start owns a per-user name, later starts ask it to come forward.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
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

    // How many names one user's instance may live under.
    static constexpr int NameCount = 16;

    explicit SingleInstance(QString base = InstanceName(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // The abstract socket name: derived from the class name and the user, so that each user has
    // exactly one instance and the name can never be left behind by a crash.
    static QString InstanceName();
    // The names an instance of `base` may own, tried in this order: an abstract name carries no
    // permissions, so another user may have bound any of them first.
    static QString NameAt(const QString& base, int index);

    // Either takes the first name nobody holds (Primary) or delivers WM_RESTORE_INSTANCE to the
    // owner of one of them that is this user's (Secondary); names of other users are passed by.
    // Failed when neither worked after a few tries.
    Role Claim();

    static QByteArray EncodeMessage(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam);
    // Sends one message to the instance owning `name`; false when nobody of this user accepted it.
    // A timeout of 0 does not wait for an owner whose backlog is full.
    static bool PostInstanceMessage(const QString& name, std::uint32_t message, std::uint32_t wParam,
                                    std::uint32_t lParam, int timeoutMs = 1000);

    // The name owned or reached; before Claim, the first one.
    const QString& name() const { return name_; }
    bool isListening() const;

signals:
    // A second start asked the running instance to come forward.
    void restoreRequested();

private:
    class Connection;

    bool listen(const QString& name);
    void stopListening();
    bool ownerBesides(int index) const;
    void onNewConnection();

    QString base_;
    QString name_;
    int fd_ = -1;  // the listening socket, once the name is ours
    QSocketNotifier* listener_ = nullptr;
};
