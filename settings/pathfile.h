#ifndef PATHFILE_H
#define PATHFILE_H

#include <QString>

// A chosen directory kept between runs in a small file of the working directory,
// as raw GBK bytes: no line end, no key, nothing else.
namespace PathFile {
// False when the file could not be read.
bool read(const QString &fileName, QString *path);
// True for a regular file too large to be one of these, which read() refuses.
bool isTooLarge(const QString &fileName);
// False when the path could not be kept, with the reason in the system's own words.
bool write(const QString &fileName, const QString &path, QString *reason);
}

#endif // PATHFILE_H
