#include "forms/aboutdialog.h"
#include "forms/quick_reference.h"

#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QMovie>
#include <QPointer>
#include <QPushButton>
#include <QTextDocument>
#include <QtTest>

// The resource list is compiled into a static library, so it has to be
// registered by whoever uses it. These live at global scope because the
// macros declare the registration functions where they are expanded.
static void registerImages() { Q_INIT_RESOURCE(resources); }
static void unregisterImages() { Q_CLEANUP_RESOURCE(resources); }

namespace {

const QString logoPath = QStringLiteral(":/images/images/logo.jpg");
const QString moviePath = QStringLiteral(":/images/images/logo_g.gif");

template <typename T>
T *child(const QWidget &dialog, const char *name)
{
    T *w = dialog.findChild<T *>(QLatin1String(name), Qt::FindDirectChildrenOnly);
    if (!w)
        qWarning("no direct child %s of the expected type", name);
    return w;
}

QMovie *logoMovie(const QWidget &dialog)
{
    QLabel *label = child<QLabel>(dialog, "label");
    return label ? label->movie() : nullptr;
}

} // namespace

class TestAbout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerImages(); }

    void imageFormatsAreReadable();
    void pictures();
    void versionLabelShowsOnlyTheVersion();
    void dialogProperties();
    void childGeometriesAndTexts_data();
    void childGeometriesAndTexts();
    void textLabelsAreReadable();
    void urlAndLogoLabelProperties();
    void okHidesTheDialog();
    void escapeHidesTheDialog();
    void reopenedDialogIsTheSameWithTheLogoRunning();
    void missingLogoLeavesTheLabelEmpty();
    void quickReferenceText_();
};

void TestAbout::imageFormatsAreReadable()
{
    const QList<QByteArray> formats = QImageReader::supportedImageFormats();
    QVERIFY2(formats.contains("jpeg") || formats.contains("jpg"), "Qt's jpeg image plugin is missing");
    QVERIFY2(formats.contains("gif"), "Qt's gif image plugin is missing");
}

void TestAbout::pictures()
{
    QVERIFY(QFile::exists(logoPath));
    QVERIFY(QFile::exists(moviePath));

    QImageReader icon(logoPath);
    QCOMPARE(icon.format(), QByteArray("jpeg"));
    const QImage iconImage = icon.read();
    QVERIFY2(!iconImage.isNull(), qPrintable(icon.errorString()));
    QCOMPARE(iconImage.size(), QSize(64, 64));

    // The animation fills the 131 x 131 logo label exactly and loops.
    QImageReader gif(moviePath);
    QCOMPARE(gif.format(), QByteArray("gif"));
    QVERIFY(gif.supportsAnimation());
    QCOMPARE(gif.loopCount(), -1);
    QList<QImage> frames;
    QImage frame;
    while (gif.read(&frame))
        frames << frame.convertToFormat(QImage::Format_RGB32);
    QVERIFY(frames.size() >= 2);
    for (const QImage &f : frames)
        QCOMPARE(f.size(), QSize(131, 131));
    QVERIFY2(frames.at(0) != frames.at(1), "the frames should differ");

    QMovie movie(moviePath);
    QVERIFY(movie.isValid());
}

void TestAbout::versionLabelShowsOnlyTheVersion()
{
    AboutDialog dialog(nullptr, QStringLiteral("V 1.3.3"));
    QLabel *version = child<QLabel>(dialog, "labelVersion");
    QVERIFY(version);
    QCOMPARE(version->text(), QStringLiteral("V 1.3.3"));
}

void TestAbout::dialogProperties()
{
    AboutDialog dialog(nullptr, QStringLiteral("V 1.3.3"));
    QCOMPARE(dialog.metaObject()->className(), "AboutDialog");
    QCOMPARE(dialog.objectName(), QStringLiteral("AboutDialog"));
    QCOMPARE(dialog.windowTitle(), QString::fromUtf8("\xc3\x9c" "ber"));
    QCOMPARE(dialog.windowModality(), Qt::ApplicationModal);
    QVERIFY(dialog.isModal());
    QCOMPARE(dialog.size(), QSize(345, 297));
    QVERIFY(!dialog.layout());
    QVERIFY(!dialog.isVisible());

    const QIcon icon = dialog.windowIcon();
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.pixmap(64, 64).toImage().convertToFormat(QImage::Format_RGB32),
             QImage(logoPath).convertToFormat(QImage::Format_RGB32));

    // Exactly the six widgets of the form, nothing else.
    QStringList names;
    for (QWidget *w : dialog.findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
        names << w->objectName();
    names.sort();
    QCOMPARE(names, (QStringList{"label", "labelAuthor", "labelCreateDate", "labelURL",
                                 "labelVersion", "pb_OK"}));
}

void TestAbout::childGeometriesAndTexts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");

    QTest::newRow("labelVersion") << "labelVersion" << QRect(70, 100, 101, 16) << "V 1.3.3";
    QTest::newRow("labelAuthor") << "labelAuthor" << QRect(20, 206, 300, 18) << "Taral-Bus contributors";
    QTest::newRow("labelURL") << "labelURL" << QRect(20, 224, 300, 18) << "https://taral-bus.example.org";
    QTest::newRow("labelCreateDate") << "labelCreateDate" << QRect(20, 242, 300, 18) << "2025-2026";
    QTest::newRow("pb_OK") << "pb_OK" << QRect(140, 270, 75, 23) << "OK";
    QTest::newRow("label") << "label" << QRect(180, 70, 131, 131) << "";
}

void TestAbout::childGeometriesAndTexts()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);

    AboutDialog dialog(nullptr, QStringLiteral("V 1.3.3"));
    QWidget *w = child<QWidget>(dialog, qPrintable(name));
    QVERIFY(w);
    QCOMPARE(w->geometry(), geometry);
    if (name == QLatin1String("pb_OK")) {
        QVERIFY(qobject_cast<QPushButton *>(w));
        QCOMPARE(static_cast<QPushButton *>(w)->text(), text);
    } else {
        QVERIFY(qobject_cast<QLabel *>(w));
        QCOMPARE(static_cast<QLabel *>(w)->text(), text);
    }
}

void TestAbout::textLabelsAreReadable()
{
    // The logo label paints its whole background, so text reaching under it
    // would be covered; and every text must fit its label.
    AboutDialog dialog(nullptr, QStringLiteral("V 1.3.3"));
    QLabel *logo = child<QLabel>(dialog, "label");
    QVERIFY(logo);
    for (const char *name : {"labelVersion", "labelAuthor", "labelURL", "labelCreateDate"}) {
        QLabel *text = child<QLabel>(dialog, name);
        QVERIFY(text);
        QVERIFY2(!text->geometry().intersects(logo->geometry()), name);
        QVERIFY2(text->fontMetrics().horizontalAdvance(text->text()) <= text->width(), name);
    }
}

void TestAbout::urlAndLogoLabelProperties()
{
    AboutDialog dialog(nullptr, QStringLiteral("V 1.3.3"));

    QLabel *url = child<QLabel>(dialog, "labelURL");
    QVERIFY(url);
    QCOMPARE(url->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
    QCOMPARE(url->sizePolicy().verticalPolicy(), QSizePolicy::Preferred);
    QCOMPARE(url->frameShape(), QFrame::NoFrame);
    QVERIFY(!url->hasScaledContents());
    QVERIFY(!url->wordWrap());
    QVERIFY(url->openExternalLinks());
    QVERIFY(!Qt::mightBeRichText(url->text()));

    QLabel *logo = child<QLabel>(dialog, "label");
    QVERIFY(logo);
    QVERIFY(logo->autoFillBackground());
    QCOMPARE(logo->frameShape(), QFrame::NoFrame);
    QVERIFY(!logo->hasScaledContents());
}

void TestAbout::okHidesTheDialog()
{
    AboutDialog dialog(nullptr, QStringLiteral("V 1.3.3"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QPushButton *ok = child<QPushButton>(dialog, "pb_OK");
    QVERIFY(ok);
    QTest::mouseClick(ok, Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
}

void TestAbout::escapeHidesTheDialog()
{
    AboutDialog dialog(nullptr, QStringLiteral("V 1.3.3"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());
}

void TestAbout::reopenedDialogIsTheSameWithTheLogoRunning()
{
    QWidget window;
    QPointer<AboutDialog> dialog = new AboutDialog(&window, QStringLiteral("V 1.3.3"));
    QCOMPARE(dialog->parentWidget(), &window);
    QVERIFY(dialog->isWindow());

    // The animation runs from construction on, shown or not.
    QMovie *movie = logoMovie(*dialog);
    QVERIFY(movie);
    QVERIFY(movie->isValid());
    QCOMPARE(movie->fileName(), moviePath);
    QCOMPARE(movie->state(), QMovie::Running);

    window.show();
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    QTest::mouseClick(child<QPushButton>(*dialog, "pb_OK"), Qt::LeftButton);
    QVERIFY(!dialog->isVisible());

    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    QVERIFY(dialog);
    QCOMPARE(window.findChildren<AboutDialog *>(), QList<AboutDialog *>{dialog.data()});
    QCOMPARE(logoMovie(*dialog), movie);
    QCOMPARE(movie->state(), QMovie::Running);
    QCOMPARE(child<QLabel>(*dialog, "labelVersion")->text(), QStringLiteral("V 1.3.3"));

    // Running means moving: the frames keep coming while the dialog is up.
    const int first = movie->currentFrameNumber();
    QTRY_VERIFY(movie->currentFrameNumber() != first);
}

void TestAbout::missingLogoLeavesTheLabelEmpty()
{
    unregisterImages();
    QVERIFY(!QFile::exists(moviePath));
    QTest::ignoreMessage(QtDebugMsg, "*** Error - Resource path not found : \":/images/images/logo_g.gif\"");
    {
        AboutDialog dialog(nullptr, QStringLiteral("V 1.3.3"));
        QLabel *logo = child<QLabel>(dialog, "label");
        QVERIFY(logo);
        QVERIFY(!logo->movie());
        QVERIFY(logo->text().isEmpty());
        QCOMPARE(child<QLabel>(dialog, "labelVersion")->text(), QStringLiteral("V 1.3.3"));
        dialog.show();
        QTest::mouseClick(child<QPushButton>(dialog, "pb_OK"), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
    }
    registerImages();
    QVERIFY(QFile::exists(moviePath));
}

void TestAbout::quickReferenceText_()
{
    const QString text = quickReferenceText();
    QCOMPARE(text.toUtf8(), QByteArray("TSA\t: Kollektortemperatur\n"
                                       "TW\t:  Speicher\n"
                                       "TSV\t: Solarvorlauf\n"
                                       "TAM\t: Au\xc3\x9f" "entemperatur\n"
                                       "TSE\t: Solarr\xc3\xbc" "cklauf\n"));
    // Decoded as UTF-8: one character each, not two Latin-1 ones.
    QVERIFY(text.contains(QChar(0x00DF)));
    QVERIFY(text.contains(QChar(0x00FC)));
    QCOMPARE(text.count(QLatin1Char('\n')), 5);
}

QTEST_MAIN(TestAbout)
#include "test_about.moc"
