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

    explicit SingleInstance(QString name = InstanceName(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // The abstract socket name: derived from the class name and the user, so that each user has
    // exactly one instance and the name can never be left behind by a crash.
    static QString InstanceName();

    // Either takes the name (Primary) or delivers WM_RESTORE_INSTANCE to its owner (Secondary).
    // Failed when neither worked after a few tries.
    Role Claim();

    static QByteArray EncodeMessage(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam);
    // Sends one message to the instance owning `name`; false when nobody accepted it.
    static bool PostInstanceMessage(const QString& name, std::uint32_t message, std::uint32_t wParam,
                                    std::uint32_t lParam, int timeoutMs = 1000);

    const QString& name() const { return name_; }
    bool isListening() const;

signals:
    // A second start asked the running instance to come forward.
    void restoreRequested();

private:
    class Connection;

    bool listen();
    void onNewConnection();

    QString name_;
    int fd_ = -1;  // the listening socket, once the name is ours
    QSocketNotifier* listener_ = nullptr;
};
