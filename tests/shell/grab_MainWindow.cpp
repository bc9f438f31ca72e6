// Saves a picture of the main window as it looks after start-up, for the documentation.
#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "FakeSerialControl.h"
#include "MainUnit.h"
#include "QtClock.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: grab_MainWindow <output.png>\n");
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);

    QTemporaryDir dir;
    QtClock clock;
    FakeSerialControl comm;
    MainFormParts parts;
    parts.comm = &comm;
    parts.clock = &clock;
    parts.iniPath = dir.filePath(QStringLiteral("Config.Ini"));
    parts.tempDir = dir.filePath(QStringLiteral("Temp"));
    TMainForm form(parts);
    form.show();

    int code = 1;
    QTimer::singleShot(500, &app, [&] {
        code = form.grab().save(output) ? 0 : 1;
        app.exit(code);
    });
    QApplication::exec();
    return code;
}
