// The two arrow images: 13 x 8 with alpha, mirror images of each other, and stored in
// the program without compression.
#include <QtTest>

class TestResources : public QObject {
    Q_OBJECT
private slots:
    void arrowsAreMirrorImages();
    void programCarriesThemUncompressed();
};

void TestResources::arrowsAreMirrorImages()
{
    const QImage left(RESOURCES_DIR "/jt-01.png");
    const QImage right(RESOURCES_DIR "/jt-02.png");
    QCOMPARE(left.size(), QSize(13, 8));
    QVERIFY(left.hasAlphaChannel());
    QCOMPARE(left.mirrored(true, false), right);
    QCOMPARE(QColor(left.pixel(0, 3)).name(), QString("#0067a6"));
    QCOMPARE(qAlpha(left.pixel(12, 0)), 0);
}

void TestResources::programCarriesThemUncompressed()
{
    QFile program(APP_PATH);
    QVERIFY(program.open(QIODevice::ReadOnly));
    const QByteArray binary = program.readAll();
    for (const char* name : { "/jt-01.png", "/jt-02.png" }) {
        QFile image(QString(RESOURCES_DIR) + name);
        QVERIFY(image.open(QIODevice::ReadOnly));
        QVERIFY2(binary.contains(image.readAll()), name);
    }
}

QTEST_GUILESS_MAIN(TestResources)
#include "tst_resources.moc"
