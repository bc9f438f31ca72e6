// Every built-in picture is embedded, decodes cleanly and has the size its window lays out for it.
#include "Pictures.h"

#include <QGuiApplication>
#include <QTest>

class TestPictures : public QObject {
    Q_OBJECT

private slots:
    void decodesAtItsSize_data();
    void decodesAtItsSize();
    void unknownNameGivesNullImage();
    void wiringPicturesDiffer();
};

void TestPictures::decodesAtItsSize_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    QTest::newRow("wiring_mv") << "wiring_mv" << QSize(290, 193);
    QTest::newRow("wiring_v") << "wiring_v" << QSize(290, 193);
    QTest::newRow("wiring_ma") << "wiring_ma" << QSize(290, 193);
    QTest::newRow("wiring_a") << "wiring_a" << QSize(290, 193);
    QTest::newRow("logo") << "logo" << QSize(120, 60);
    QTest::newRow("banner") << "banner" << QSize(300, 41);
    QTest::newRow("splash") << "splash" << QSize(680, 476);
    QTest::newRow("about_logo") << "about_logo" << QSize(76, 73);
    for (const char* icon : {"icon_setting", "icon_calibrate", "icon_reset", "icon_abort", "icon_help", "icon_about",
                             "icon_exit"})
        QTest::newRow(icon) << QString::fromLatin1(icon) << QSize(24, 24);
}

void TestPictures::decodesAtItsSize()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);
    QVERIFY(PictureNames().contains(name));
    const QImage image = PictureImage(name);
    QVERIFY2(!image.isNull(), qPrintable(name));
    QCOMPARE(image.size(), size);
}

void TestPictures::unknownNameGivesNullImage()
{
    QVERIFY(PictureImage(QStringLiteral("no_such_picture")).isNull());
    QVERIFY(PictureImage(QString()).isNull());
}

// The information window tells the four set-ups apart only by its picture.
void TestPictures::wiringPicturesDiffer()
{
    const QStringList names{QStringLiteral("wiring_mv"), QStringLiteral("wiring_v"), QStringLiteral("wiring_ma"),
                            QStringLiteral("wiring_a")};
    for (int i = 0; i < names.size(); ++i)
        for (int j = i + 1; j < names.size(); ++j)
            QVERIFY2(PictureImage(names[i]) != PictureImage(names[j]), qPrintable(names[i] + " vs " + names[j]));
}

QTEST_GUILESS_MAIN(TestPictures)
#include "tst_Pictures.moc"
