// A private PostgreSQL 15 server in a temporary folder, started and ended by the tests that need a real database.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <sys/types.h>

class QTemporaryDir;

class PgServer {
public:
    // Nothing is made or started until start().
    PgServer();
    // Ends the server at once if it still runs (killing it when it will not go) and removes the folder.
    ~PgServer();
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    // The first call makes the folder and the cluster, picks a free port on 127.0.0.1 and starts the
    // server; a later call (after stop()) starts the same cluster again on the same port. True once
    // the server accepts connections, also when it already ran.
    bool start(QString* error);
    // A fast shutdown: sessions are ended, the server waited for until it is gone.
    bool stop(QString* error = nullptr);
    bool isRunning() const;

    QString host() const { return QStringLiteral("127.0.0.1"); }
    // 0 until the first start has picked one.
    int port() const { return port_; }
    QString superUser() const { return QStringLiteral("postgres"); }
    // Made afresh for each cluster.
    QString superPassword() const { return password_; }
    // Holds the data folder, the socket, the server log; empty until start() made it.
    QString folder() const;
    // Whether the server offers TLS (not when openssl is missing to make its certificate).
    bool tls() const { return tls_; }
    // The authority the server's certificate (for 127.0.0.1) comes from, made with the cluster.
    QString caFile() const { return folder() + QLatin1String("/ca.crt"); }

    // Runs SQL (statements or psql commands) as the superuser through psql over TCP in `database`.
    // On failure returns false and puts psql's complaint into *error; *output gets what psql printed
    // (unaligned, tuples only), trimmed.
    bool exec(const QString& sql, const QString& database = QStringLiteral("postgres"),
              QString* output = nullptr, QString* error = nullptr) const;
    // The server log's last lines, for failure messages.
    QString logTail(int lines = 30) const;
    // Whether the PostgreSQL 15 programs are installed.
    static bool available();

private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString password_;
    int port_ = 0;
    bool initialised_ = false;
    bool startedOnce_ = false;
    bool tls_ = false;
    // Running as root: the server programs refuse that, so they run as `nobody` instead.
    bool dropRoot_ = false;
    uid_t uid_ = 0;
    gid_t gid_ = 0;

    QString dataDir() const;
    QString logPath() const;
    bool initialise(QString* error);
    bool initdb(bool withLocale, QString* error);
    bool makeCertificate(QString* error);
    bool startOn(int port, QString* error, bool* portTaken);
    // Gets rid of a server by any means: immediate shutdown, then SIGKILL for whatever is left.
    void forceStop();
    qint64 postmasterPid() const;
    // Runs one of the server's programs as the server's user; on failure *problem says why.
    bool runAsServer(const QString& name, const QString& program, const QStringList& args, int timeoutMs,
                     QString* problem) const;
};
