// Runs the reassembly fuzz target once over every file of its corpus, as an ordinary test.
#include <QByteArray>
#include <QDir>
#include <QFile>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv)
{
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(KORVEX_FUZZ_CORPUS);
    const QStringList files = QDir(dir).entryList(QDir::Files, QDir::Name);
    if (files.isEmpty()) {
        std::fprintf(stderr, "no corpus files in %s\n", qPrintable(dir));
        return 1;
    }
    for (const QString& name : files) {
        QFile file(QDir(dir).filePath(name));
        if (!file.open(QIODevice::ReadOnly)) return 1;
        const QByteArray bytes = file.readAll();
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
        std::printf("ok %s (%lld bytes)\n", qPrintable(name), static_cast<long long>(bytes.size()));
    }
    return 0;
}
