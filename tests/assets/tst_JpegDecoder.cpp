// The JPEG decoder accepts a sound picture and refuses truncated, damaged and empty data.
#include "JpegDecoder.h"
#include "JpegEncoder.h"

#include <QTest>

namespace {

// Left half red, right half blue, with a fine checker in the lower half so that the compressed
// data is long enough for damage in its middle to hit entropy-coded blocks.
QImage TestPicture()
{
    QImage image(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            QColor c = x < 32 ? QColor(220, 20, 20) : QColor(20, 40, 220);
            if (y >= 24 && (x + y) % 2 == 0) c = QColor((x * 37) % 256, (y * 53) % 256, (x * y) % 256);
            image.setPixelColor(x, y, c);
        }
    return image;
}

QByteArray TestJpeg()
{
    return EncodeJpeg(TestPicture(), 90);
}

// Offset of the first byte after the start-of-scan segment: everything from here to the end
// marker is compressed picture data.
qsizetype ScanDataStart(const QByteArray& jpeg)
{
    const qsizetype sos = jpeg.indexOf(QByteArray("\xFF\xDA", 2));
    if (sos < 0) return -1;
    const int length = (static_cast<unsigned char>(jpeg[sos + 2]) << 8) | static_cast<unsigned char>(jpeg[sos + 3]);
    return sos + 2 + length;
}

} // namespace

class TestJpegDecoder : public QObject {
    Q_OBJECT

private slots:
    void decodesSoundPicture();
    void refusesBadData_data();
    void refusesBadData();
    void refusesOversizedHeader();
};

void TestJpegDecoder::decodesSoundPicture()
{
    const QByteArray jpeg = TestJpeg();
    QVERIFY(!jpeg.isEmpty());
    const JpegDecodeResult result = DecodeJpeg(jpeg);
    QVERIFY2(result.ok(), qPrintable(result.error));
    QVERIFY(result.error.isEmpty());
    QCOMPARE(result.image.size(), QSize(64, 48));
    const QColor left = result.image.pixelColor(8, 8);
    const QColor right = result.image.pixelColor(56, 8);
    QVERIFY2(qAbs(left.red() - 220) < 12 && left.green() < 40 && left.blue() < 40, qPrintable(left.name()));
    QVERIFY2(qAbs(right.blue() - 220) < 12 && right.red() < 40 && right.green() < 60, qPrintable(right.name()));
}

void TestJpegDecoder::refusesBadData_data()
{
    QTest::addColumn<QByteArray>("data");
    const QByteArray jpeg = TestJpeg();
    const qsizetype scan = ScanDataStart(jpeg);
    QVERIFY(scan > 0 && scan < jpeg.size() - 40);

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("garbage") << QByteArray("this is plainly not a picture at all, just text");
    QTest::newRow("start marker only") << jpeg.left(2);
    QTest::newRow("header without scan") << jpeg.left(scan - 10);
    QTest::newRow("cut in the middle") << jpeg.left(jpeg.size() / 2);
    QTest::newRow("cut just after scan header") << jpeg.left(scan + 4);
    QTest::newRow("end marker missing") << jpeg.left(jpeg.size() - 2).append(QByteArray(1, '\0'));

    QByteArray flipped = jpeg;
    const qsizetype mid = scan + (jpeg.size() - scan) / 2;
    for (qsizetype i = mid - 8; i < mid + 8; ++i) flipped[i] = static_cast<char>(~flipped[i]);
    QTest::newRow("bytes flipped in the middle") << flipped;

    QByteArray noise = jpeg;
    for (qsizetype i = scan; i < jpeg.size() - 2; ++i) noise[i] = static_cast<char>((i * 131 + 7) & 0xFF);
    QTest::newRow("scan data replaced by noise") << noise;

    QByteArray badHeader = jpeg;
    badHeader[3] = static_cast<char>(0x00); // not a marker any more where one must be
    QTest::newRow("broken first segment") << badHeader;
}

void TestJpegDecoder::refusesBadData()
{
    QFETCH(QByteArray, data);
    const JpegDecodeResult result = DecodeJpeg(data);
    QVERIFY(!result.ok());
    QVERIFY(result.image.isNull());
    QVERIFY(!result.error.isEmpty());
}

// A header that claims an enormous picture is refused before the pixels are allocated.
void TestJpegDecoder::refusesOversizedHeader()
{
    QByteArray jpeg = TestJpeg();
    const qsizetype sof = jpeg.indexOf(QByteArray("\xFF\xC0", 2));
    QVERIFY(sof > 0);
    // Height and width follow the segment length and the sample precision.
    jpeg[sof + 5] = static_cast<char>(0x3F);
    jpeg[sof + 6] = static_cast<char>(0xF0);
    jpeg[sof + 7] = static_cast<char>(0x3F);
    jpeg[sof + 8] = static_cast<char>(0xF0);
    const JpegDecodeResult result = DecodeJpeg(jpeg);
    QVERIFY(!result.ok());
    QVERIFY2(result.error.contains(QStringLiteral("size")), qPrintable(result.error));
}

QTEST_GUILESS_MAIN(TestJpegDecoder)
#include "tst_JpegDecoder.moc"
