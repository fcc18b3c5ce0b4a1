#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <QString>
#include <QStringList>

// The program's options, read before any application object exists: --help, --version, a
// mistyped option and a job with no window need no display. Qt's own options (-platform,
// -style, ...) are passed over here and taken by the application object when there is a window.
class CommandLine
{
public:
    // argv as a list, the program's name first.
    static QStringList arguments(int argc, char **argv);

    // False for an option that neither the program nor Qt knows, or a stray argument.
    bool parse(const QStringList &arguments);
    bool run() const { return m_run; }
    // --verify [DIRECTORY]: the directory, empty for the saved output directory.
    bool verify() const { return m_verify; }
    // --extract ARCHIVE [DIRECTORY]: the archive, then the directory, empty for the current one.
    bool extract() const { return m_extract; }
    // Any of the commands that need no window.
    bool withoutWindow() const { return m_run || m_verify || m_extract; }
    const QStringList &paths() const { return m_paths; }
    bool help() const { return m_help; }
    bool version() const { return m_version; }
    QString error() const { return m_error; }
    static QString usage();
    // "Halcyon压缩 <version>"
    static QString versionText();

    // What a scheduler is told: 64 is the usage error of sysexits.h.
    static constexpr int kUsageExitCode = 64;

private:
    bool checkCommand();

    bool m_run = false;
    bool m_help = false;
    bool m_version = false;
    bool m_verify = false;
    bool m_extract = false;
    QStringList m_paths;
    QString m_error;
};

#endif // COMMANDLINE_H
