#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <QString>
#include <QStringList>

// The program's options. Qt's own (-platform, -style, ...) are taken by the application
// object when there is a window, and passed over here when there is none.
class CommandLine
{
public:
    // Looked up before any application object exists: a job with no window needs none
    // that connects to a display.
    static bool wantsRun(int argc, char **argv);

    // False for an option that neither the program nor Qt knows, or a stray argument.
    bool parse(const QStringList &arguments);
    bool run() const { return m_run; }
    bool help() const { return m_help; }
    QString error() const { return m_error; }
    static QString usage();

    // What a scheduler is told: 64 is the usage error of sysexits.h.
    static constexpr int kUsageExitCode = 64;

private:
    bool m_run = false;
    bool m_help = false;
    QString m_error;
};

#endif // COMMANDLINE_H
