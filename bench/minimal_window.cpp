// The yardstick of the start-up figures: the least a Qt Widgets program does to show a window,
// built by the same CMake as the calibrator. Ends once the window is shown, telling its peak memory.
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <sys/resource.h>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(836, 653);
    window.show();
    QTimer::singleShot(0, [] {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("PEAK_RSS_KB %ld\n", usage.ru_maxrss);
        std::fflush(stdout);
        QApplication::exit(0);
    });
    return QApplication::exec();
}
