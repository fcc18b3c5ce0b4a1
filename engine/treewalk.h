#ifndef TREEWALK_H
#define TREEWALK_H

#include <QString>
#include <QStringList>

#include <functional>

// Walks a directory tree in the order the job archives it: each directory's entries by name,
// ignoring case, files and subdirectories mixed, hidden entries passed over; a subdirectory
// is walked where it stands in that order. Links to directories are followed, but never back
// into a directory already on the way down, which would recurse for ever.
class TreeWalk
{
public:
    struct Visitor
    {
        std::function<void(const QString &directory)> missingDirectory;
        // A regular file whose path ends in the suffix, compared without regard to case.
        std::function<void(const QString &filePath)> matchingFile;
        // A directory of the tree whose entries could not be listed, with the system's reason;
        // the walk goes on without it.
        std::function<void(const QString &directory, const QString &reason)> unreadableDirectory;
        // Asked before each entry: true ends the walk at once.
        std::function<bool()> stopped;
    };

    TreeWalk(const QString &suffix, Visitor visitor);
    void walk(const QString &directory);

private:
    void walkEntries(const QString &directory);
    static QString unreadableReason(const QString &directory);

    QString m_suffix;
    Visitor m_visitor;
    // The canonical directories from the top down to the one being walked.
    QStringList m_chain;
};

#endif // TREEWALK_H
