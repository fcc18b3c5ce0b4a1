#include <QApplication>
#include <QIcon>

#include <cstdio>

#include "commandline.h"
#include "filenamecodec.h"
#include "headlessjob.h"
#include "stylesheet.h"
#include "systemlog.h"
#include "vesper.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

// A program of the GUI subsystem has no console: borrow the one it was started from, so
// that halcyon.exe --run prints in cmd. Redirected output already has its handles.
void attachParentConsole()
{
#ifdef Q_OS_WIN
    const bool redirected = GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) != FILE_TYPE_UNKNOWN;
    if (!redirected && AttachConsole(ATTACH_PARENT_PROCESS)) {
        std::freopen("CONOUT$", "w", stdout);
        std::freopen("CONOUT$", "w", stderr);
    }
#endif
}

int usageError(const CommandLine &commandLine)
{
    std::fprintf(stderr, "%s\n%s", qPrintable(commandLine.error()), qPrintable(CommandLine::usage()));
    return CommandLine::kUsageExitCode;
}

int runWithoutWindow(int argc, char **argv)
{
    attachParentConsole();
    QCoreApplication app(argc, argv);
    CommandLine commandLine;
    if (!commandLine.parse(QCoreApplication::arguments()))
        return usageError(commandLine);
    return HeadlessJob().exec();
}

} // namespace

int main(int argc, char **argv)
{
    // Before anything reads a name: the arguments, the paths, the directories.
    FileNameCodec::install();
    if (CommandLine::wantsRun(argc, argv))
        return runWithoutWindow(argc, argv);

    QApplication app(argc, argv);
    // The application object has taken Qt's own options by now.
    CommandLine commandLine;
    if (!commandLine.parse(QCoreApplication::arguments())) {
        attachParentConsole();
        return usageError(commandLine);
    }
    if (commandLine.help()) {
        attachParentConsole();
        std::fputs(qPrintable(CommandLine::usage()), stdout);
        return 0;
    }
#ifndef Q_OS_WIN
    // Windows takes the icon from the executable's resources; elsewhere the
    // windows need it handed over.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/halcyon.png")));
#endif
    app.setStyleSheet(loadStyleSheet(QStringLiteral("skin.css")));

    Vesper window;
    window.show();
    const int result = app.exec();
    SystemLog::flush();
    return result;
}
