#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextCodec>
#include <QtTest>

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

bool makeSparse(const QString &path, qint64 size)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.resize(size);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray gbk(const QString &text)
{
    return QTextCodec::codecForName("GBK")->fromUnicode(text);
}

QByteArray patterned(int size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = quint32(seed) * 2654435761u;
    for (int i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = char("backup data 0123456789"[(state >> 16) % 22]);
    }
    return bytes;
}
