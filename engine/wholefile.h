#ifndef WHOLEFILE_H
#define WHOLEFILE_H

#include <QFile>
#include <QString>
#include <QStringList>

#include <functional>

// A file written under a temporary name beside its final one and put in its place only
// whole: every byte written, flushed and synced to the disk. Until then an older file of
// that name stays as it was, and it stays for good if anything fails.
//
// QSaveFile would do the same, but Qt 5 ignores the result of its sync and of closing the
// temporary file, and deletes the finished file when the rename fails: on Windows that is
// whenever another program (a virus scanner, a backup agent) holds the older file open.
class WholeFile
{
public:
    // Asked while the replacement waits for another program to let go of the older file.
    using Cancelled = std::function<bool()>;

    // What a link at the final name means.
    enum class Links {
        // The operator's own file: replaced at the link's target, which keeps its permissions.
        Followed,
        // A file in a directory that other accounts may write: created and replaced as that
        // directory's entry, so a link there is replaced itself, and its target never
        // opened. The temporary file is made readable by its owner alone (POSIX).
        Replaced,
    };

    explicit WholeFile(const QString &finalPath, Links links = Links::Followed);
    // Discards the temporary file unless it was committed.
    ~WholeFile();
    WholeFile(const WholeFile &) = delete;
    WholeFile &operator=(const WholeFile &) = delete;

    // Creates the temporary file. Fails for a final name that is a directory or read-only.
    bool open();
    // Why open or commit failed, in the system's own words.
    QString errorString() const { return m_error; }
    QFile &device() { return m_file; }
    // Gives the open file source's permission bits (POSIX), so that it is no more readable
    // than source; on Windows the directory's ACL decides.
    bool setPermissionsOf(const QFileDevice &source);
    // Flushes, syncs, closes and puts the file in place; false on any failure, after which
    // the temporary file is gone and the older file untouched.
    bool commit(const Cancelled &cancelled = {});
    // The same, but only where nothing stands at the final name (not even a link): a file
    // that appeared there meanwhile is never replaced, and the commit fails.
    bool commitNew();
    void discard();

    // How long the replacement keeps trying while the older file is held open.
    static constexpr int kHeldRetryMs = 10000;

    // The temporary files in directory that WholeFiles left or are writing, and whether one
    // is finalPath's. Only the caller knows that none of them is still being written (a
    // killed process, a power cut left it).
    static QStringList leftovers(const QString &directory);
    static bool isTemporaryOf(const QString &temporaryPath, const QString &finalPath);

private:
    bool checkFinal();
    bool createTemporary();
    bool openNewTemporary();
    bool syncAndClose();
    bool replaceFinal(const Cancelled &cancelled);
    bool placeNew();
    bool fail(const QString &reason);

    const Links m_links;
    QString m_finalPath;
    QString m_temporaryPath;
    QFile m_file;
    QString m_error;
};

#endif // WHOLEFILE_H
