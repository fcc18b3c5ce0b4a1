#ifndef WHOLESAVE_H
#define WHOLESAVE_H

class QSaveFile;

// Commits a QSaveFile only if every byte reached the disk. QSaveFile::commit() in Qt 5
// renames the file into place even when the write of its last buffered bytes failed
// (a full disk), which would replace a good file with a truncated one.
bool commitWhole(QSaveFile &file);

#endif // WHOLESAVE_H
