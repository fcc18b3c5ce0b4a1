#include "compresstask.h"
#include "systemlog.h"
#include "testfiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// What the program hands the system's log, received where syslog(3) sends it: a socket of the
// test's own at /dev/log, bound over the real one in a mount namespace of the test's own, or
// in place of a missing one.
class SystemLogTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void jobEvents_data();
    void jobEvents();

private:
    // "<priority> <message>" of each datagram this process sent, in order, up to the job's end.
    QStringList received();

    QTemporaryDir m_dir;
    int m_socket = -1;
    bool m_inPlaceOfMissing = false;
};

void SystemLogTest::initTestCase()
{
    const QString path = m_dir.filePath("log");
    m_socket = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
    QVERIFY(::bind(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
    if (qEnvironmentVariableIsSet("HALCYON_LOG_NAMESPACE")) {
        if (::mount(QFile::encodeName(path).constData(), "/dev/log", nullptr, MS_BIND, nullptr) != 0)
            QSKIP("cannot bind a socket over /dev/log in this mount namespace");
    } else {
        if (QFileInfo::exists("/dev/log") || QFile::link(path, "/dev/log") == false)
            QSKIP("/dev/log exists and no mount namespace could be had (unshare -m)");
        m_inPlaceOfMissing = true;
    }
}

void SystemLogTest::cleanupTestCase()
{
    if (m_inPlaceOfMissing)
        QFile::remove("/dev/log");
    if (m_socket >= 0)
        ::close(m_socket);
}

QStringList SystemLogTest::received()
{
    SystemLog::flush();
    const QByteArray mine = "halcyon[" + QByteArray::number(::getpid()) + "]: ";
    QStringList messages;
    pollfd ready{m_socket, POLLIN, 0};
    const auto ended = [&messages] { return !messages.isEmpty() && messages.last().section(' ', 1).startsWith("100:"); };
    while (::poll(&ready, 1, ended() ? 200 : 5000) > 0) {
        char buffer[8192];
        const ssize_t size = ::recv(m_socket, buffer, sizeof buffer, 0);
        const QByteArray datagram(buffer, int(std::max<ssize_t>(size, 0)));
        const int at = datagram.indexOf(mine);
        // Other test programs may log at the same time.
        if (datagram.startsWith('<') && at > 0)
            messages << QString::fromUtf8(datagram.mid(1, datagram.indexOf('>') - 1) + ' ' + datagram.mid(at + mine.size()));
    }
    return messages;
}

void SystemLogTest::jobEvents_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QStringList>("events"); // the priority (facility user) and the ID
    QTest::newRow("every backup archived") << "" << QStringList{"14 100"};
    QTest::newRow("an archive failed") << "b.rar taken" << QStringList{"11 101", "12 100"};
    QTest::newRow("source directory missing") << "no source" << QStringList{"11 102", "11 100"};
    QTest::newRow("no .bak file") << "no backups" << QStringList{"12 103", "11 100"};
    QTest::newRow("a name that would start a line") << "odd name taken" << QStringList{"11 101", "12 100"};
    // Nobody reads the log while the job runs: its queue fills, and 101s are dropped.
    QTest::newRow("3000 failures on a slow log") << "3000 fail" << QStringList();
}

void SystemLogTest::jobEvents()
{
    QFETCH(QString, setup);
    QFETCH(QStringList, events);
    QTemporaryDir dir;
    const QString src = dir.filePath(setup == "no source" ? "gone" : "src");
    QString out = dir.filePath("out");
    QVERIFY(QDir().mkpath(dir.filePath("src")));
    const QString b = setup == "odd name taken" ? "b\n100: x" : "b";
    if (setup != "no backups") {
        writeFile(dir.filePath("src/a.bak"), "a");
        writeFile(dir.filePath("src/" + b + ".bak"), "b");
    }
    if (setup == "b.rar taken" || setup == "odd name taken")
        QVERIFY(QDir().mkpath(out + "/" + b + ".rar"));
    if (setup == "3000 fail") { // each fails at once: the output directory cannot be made
        for (int i = 0; i < 3000; ++i)
            writeFile(dir.filePath(QString("src/%1.bak").arg(i)), "x");
        writeFile(out, "a file");
        out += "/below";
    }

    CompressTask task;
    task.startTask(src, ".bak", false, QString(), out);
    QVERIFY(task.wait(60000));
    const QStringList messages = received();
    QVERIFY(!messages.isEmpty());
    QStringList ids;
    for (const QString &message : messages)
        ids << message.section(':', 0, 0);
    if (setup == "3000 fail") {
        const int failed = 3002, delivered = ids.count("11 101"); // with a.bak and b.bak
        QVERIFY2(delivered < failed && ids.last() == "11 100" && ids.size() == delivered + 1, qPrintable(ids.join(',')));
        QVERIFY2(messages.last().endsWith(QString("；另有 %1 条失败记录因系统日志繁忙未能写入").arg(failed - delivered)),
                 qPrintable(messages.last()));
        return;
    }
    QCOMPARE(ids, events);
    // The end names both directories as they were given.
    QVERIFY2(messages.last().contains(src) && messages.last().contains(out), qPrintable(messages.last()));
    if (setup == "b.rar taken" || setup == "odd name taken") {
        const QString shown = QString(b).replace("\n", "\\x0a");
        QVERIFY2(messages.first().contains(out + "/" + shown + ".rar") && messages.first().contains(dir.filePath("src/" + shown + ".bak")),
                 qPrintable(messages.first()));
    }
}

// Where /dev/log exists, the test runs again in a mount namespace of its own.
int main(int argc, char **argv)
{
    if (QFileInfo::exists("/dev/log") && !qEnvironmentVariableIsSet("HALCYON_LOG_NAMESPACE")
        && ::geteuid() == 0) {
        ::setenv("HALCYON_LOG_NAMESPACE", "1", 1);
        std::vector<char *> arguments{const_cast<char *>("unshare"), const_cast<char *>("-m"),
                                      const_cast<char *>("--propagation"), const_cast<char *>("private")};
        arguments.insert(arguments.end(), argv, argv + argc);
        arguments.push_back(nullptr);
        ::execvp("unshare", arguments.data());
        ::unsetenv("HALCYON_LOG_NAMESPACE");
    }
    QCoreApplication app(argc, argv);
    SystemLogTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "systemlogtest.moc"
