// Saves pictures of the splash, help and about windows as PNG files, for the documentation.
#include "AboutDlg.h"
#include "Unit1.h"
#include "Unit2.h"

#include <QApplication>
#include <QDir>
#include <QWidget>

#include <cstdio>

namespace {

bool Save(QWidget& window, const QDir& out, const QString& name)
{
    window.show();
    QApplication::processEvents();
    const QString path = out.filePath(name);
    const bool saved = window.grab().save(path, "PNG");
    window.hide();
    std::printf("%s %s\n", qPrintable(path), saved ? "saved" : "NOT SAVED");
    return saved;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: window-shots <output folder>\n");
        return 2;
    }
    const QDir out(args.at(1));
    if (!out.exists() && !QDir().mkpath(out.path())) return 1;

    TForm1 splash;
    TForm2 help;
    TFormAbout about;

    bool ok = Save(splash, out, QStringLiteral("splash.png"));
    ok = Save(help, out, QStringLiteral("help.png")) && ok;
    ok = Save(about, out, QStringLiteral("about.png")) && ok;
    return ok ? 0 : 1;
}
