#include <QDir>
#include <QFile>
#include <QLibrary>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTimer>
#include <QtTest>

#include "testfiles.h"
#include "vesper.h"

// Types only: libX11 is loaded at run time, so the suite does not link it.
#include <X11/Xlib.h>

namespace {

// What a window manager sends when the operator clicks the close button.
bool sendWindowClose(const QByteArray &display, unsigned long window)
{
    QLibrary x11(QStringLiteral("X11"), 6);
    auto openDisplay = reinterpret_cast<decltype(&XOpenDisplay)>(x11.resolve("XOpenDisplay"));
    auto internAtom = reinterpret_cast<decltype(&XInternAtom)>(x11.resolve("XInternAtom"));
    auto sendEvent = reinterpret_cast<decltype(&XSendEvent)>(x11.resolve("XSendEvent"));
    auto flush = reinterpret_cast<decltype(&XFlush)>(x11.resolve("XFlush"));
    auto closeDisplay = reinterpret_cast<decltype(&XCloseDisplay)>(x11.resolve("XCloseDisplay"));
    if (!openDisplay || !internAtom || !sendEvent || !flush || !closeDisplay)
        return false;

    Display *connection = openDisplay(display.constData());
    if (!connection)
        return false;
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = internAtom(connection, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(internAtom(connection, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const bool sent = sendEvent(connection, window, False, NoEventMask, &event) != 0;
    flush(connection);
    closeDisplay(connection);
    return sent;
}

bool libX11Available()
{
    return QLibrary(QStringLiteral("X11"), 6).load();
}

} // namespace

// Xlib's macros must not reach the code below.
#undef Bool
#undef Status
#undef None
#undef True
#undef False

namespace {

QString halcyonPath()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../../app/halcyon");
}

} // namespace

class ExitCodeTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void closingTheWindowEndsTheLoopWithZero();
    void realProcessExitsWithZero_data();
    void realProcessExitsWithZero();

private:
    bool startXvfb();
    unsigned long waitForWindow(QProcess &program);

    QProcess m_xvfb;
    QByteArray m_display;
    QString m_whyNoDisplay;
};

void ExitCodeTest::initTestCase()
{
    QVERIFY2(QFile::exists(halcyonPath()), qPrintable(halcyonPath()));
    if (!startXvfb())
        qInfo("real-process check will be skipped: %s", qPrintable(m_whyNoDisplay));
}

void ExitCodeTest::cleanupTestCase()
{
    if (m_xvfb.state() != QProcess::NotRunning) {
        m_xvfb.terminate();
        m_xvfb.waitForFinished(5000);
    }
}

// -displayfd lets the server pick a free display, so parallel runs do not clash.
bool ExitCodeTest::startXvfb()
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty()) {
        m_whyNoDisplay = QStringLiteral("Xvfb is not installed (package xvfb)");
        return false;
    }
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) {
        m_whyNoDisplay = QStringLiteral("xdotool is not installed (package xdotool)");
        return false;
    }
    if (!libX11Available()) {
        m_whyNoDisplay = QStringLiteral("libX11 cannot be loaded");
        return false;
    }
    m_xvfb.start(xvfb, {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
    while (!m_xvfb.canReadLine() && m_xvfb.waitForReadyRead(15000)) {
    }
    const QByteArray number = m_xvfb.readLine().trimmed();
    if (number.isEmpty()) {
        m_whyNoDisplay = QStringLiteral("Xvfb did not start");
        m_xvfb.kill();
        return false;
    }
    m_display = ':' + number;
    return true;
}

unsigned long ExitCodeTest::waitForWindow(QProcess &program)
{
    QProcess search;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_display));
    search.setProcessEnvironment(environment);
    search.start(QStringLiteral("xdotool"),
                 {"search", "--sync", "--onlyvisible", "--name", "^Halcyon"});
    // Stop looking once the program is gone.
    while (!search.waitForFinished(200)) {
        if (program.state() == QProcess::NotRunning) {
            search.kill();
            search.waitForFinished();
            return 0;
        }
    }
    return search.readAllStandardOutput().split('\n').value(0).toULong();
}

void ExitCodeTest::closingTheWindowEndsTheLoopWithZero()
{
    Vesper window;
    window.show();
    QTimer::singleShot(0, &window, &QWidget::close);
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!window.isVisible());
}

void ExitCodeTest::realProcessExitsWithZero_data()
{
    QTest::addColumn<bool>("withSkin");
    QTest::addColumn<QByteArray>("skin");

    QTest::newRow("no skin.css") << false << QByteArray();
    QTest::newRow("GBK skin.css")
        << true << gbk(QStringLiteral("/* 皮肤 */\nQGroupBox { font-family: \"微软雅黑\"; }\n"));
    QTest::newRow("unparsable skin.css") << true << QByteArray("QWidget { color: ;;; {{ \xFF\xFE");
}

void ExitCodeTest::realProcessExitsWithZero()
{
    QFETCH(bool, withSkin);
    QFETCH(QByteArray, skin);
    if (m_display.isEmpty())
        QSKIP(qPrintable(m_whyNoDisplay));

    QTemporaryDir workingDirectory;
    QVERIFY(workingDirectory.isValid());
    if (withSkin) {
        QFile file(workingDirectory.filePath(QStringLiteral("skin.css")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(skin);
    }

    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_display));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(workingDirectory.path());
    program.start(halcyonPath(), QStringList());
    QVERIFY(program.waitForStarted());

    const unsigned long window = waitForWindow(program);
    if (!window) {
        program.kill();
        program.waitForFinished();
        QFAIL(program.readAllStandardError().constData());
    }
    QVERIFY(sendWindowClose(m_display, window));

    const bool finished = program.waitForFinished(30000);
    if (!finished)
        program.kill();
    QVERIFY(finished);
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
}

QTEST_MAIN(ExitCodeTest)
#include "exitcodetest.moc"
