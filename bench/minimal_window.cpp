// The yardstick of the start-up figures: the least a Qt Widgets program does to show a window with
// a line of text in it, built by the same CMake as the calibrator. Ends once the window is shown,
// telling its peak memory.
#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <sys/resource.h>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Minimal"));
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QStringLiteral("A window with a line of text"), &window));
    window.resize(836, 653);
    window.show();
    QApplication::processEvents();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("PEAK_RSS_KB %ld\n", usage.ru_maxrss);
    return 0;
}
