// A private PostgreSQL server for the reliability suite's shell: starts it, runs the SQL given on
// the command line as the superuser, prints "PG <socket folder> <port>" and keeps the server until
// its standard input closes.
#include "PgServer.h"

#include <QCoreApplication>

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    PgServer server;
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "pg_fixture: %s\n", qPrintable(error));
        return 1;
    }
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (!server.exec(args[i], QStringLiteral("postgres"), nullptr, &error)) {
            std::fprintf(stderr, "pg_fixture: %s\n", qPrintable(error));
            return 1;
        }
    }
    std::printf("PG %s %d\n", qPrintable(server.folder()), server.port());
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}
