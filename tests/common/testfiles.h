#ifndef TESTFILES_H
#define TESTFILES_H

#include <QByteArray>
#include <QString>

// Files the tests make and read back. The writers fail the running test on an error.
void writeFile(const QString &path, const QByteArray &bytes);
// A file of size bytes that takes no room (zeros); false where the file system cannot.
bool makeSparse(const QString &path, qint64 size);
QByteArray readFile(const QString &path);
// The GBK bytes of text, as the program keeps its text files.
QByteArray gbk(const QString &text);
// Bytes that compress like a database backup: few symbols, no long repeats.
QByteArray patterned(int size, int seed = 1);

#endif // TESTFILES_H
