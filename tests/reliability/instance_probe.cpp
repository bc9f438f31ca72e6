// The single-instance probe: sends the running calibrator's instance name garbage of many sizes,
// then says whether it still answers as the single instance does.
#include "SingleInstance.h"

#include <QCoreApplication>
#include <QLocalSocket>

#include <cstdio>
#include <random>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString instance = SingleInstance::SocketPath(SingleInstance::Places().constFirst());
    std::mt19937 rng(7);
    int sent = 0;
    for (int size : {0, 1, 7, 15, 16, 17, 31, 32, 100, 4096, 65536}) {
        QLocalSocket socket;
        socket.connectToServer(instance);
        if (!socket.waitForConnected(2000)) {
            std::printf("GONE before garbage of %d bytes\n", size);
            return 1;
        }
        QByteArray junk(size, '\0');
        for (char& c : junk) c = static_cast<char>(rng());
        socket.write(junk);
        socket.waitForBytesWritten(2000);
        socket.disconnectFromServer();
        ++sent;
    }
    QLocalSocket socket;
    socket.connectToServer(instance);
    const bool alive = socket.waitForConnected(2000);
    std::printf("%s after %d pieces of garbage\n", alive ? "ALIVE" : "GONE", sent);
    return alive ? 0 : 1;
}
