#include <QApplication>
#include <QIcon>

#include <cstdio>

#include "commandline.h"
#include "consoleoutput.h"
#include "filenamecodec.h"
#include "extractcommand.h"
#include "headlessjob.h"
#include "settings.h"
#include "stylesheet.h"
#include "systemlog.h"
#include "verifycommand.h"
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

// Through the console's own text where there is one, UTF-8 into files and pipes.
void print(std::FILE *stream, const QString &text)
{
    ConsoleOutput output(stream);
    output.write(text.toUtf8());
}

int runWithoutWindow(int argc, char **argv, const CommandLine &commandLine)
{
    QCoreApplication app(argc, argv);
    const QStringList paths = commandLine.paths();
    if (commandLine.verify())
        return VerifyCommand().exec(paths.value(0));
    if (commandLine.extract())
        return ExtractCommand().exec(paths.value(0), paths.value(1));
    return HeadlessJob().exec();
}

} // namespace

int main(int argc, char **argv)
{
    // Before anything reads a name: the arguments, the paths, the directories.
    FileNameCodec::install();
    // Before any application object: a server with no display still gets its answer.
    CommandLine commandLine;
    const bool understood = commandLine.parse(CommandLine::arguments(argc, argv));
    if (!understood || commandLine.help() || commandLine.version() || commandLine.withoutWindow())
        attachParentConsole();
    if (!understood) {
        print(stderr, commandLine.error() + QLatin1Char('\n') + CommandLine::usage());
        return CommandLine::kUsageExitCode;
    }
    if (commandLine.help()) {
        print(stdout, CommandLine::usage());
        return 0;
    }
    if (commandLine.version()) {
        print(stdout, CommandLine::versionText() + QLatin1Char('\n'));
        return 0;
    }
    if (commandLine.withoutWindow())
        return runWithoutWindow(argc, argv, commandLine);

    QApplication app(argc, argv);
#ifndef Q_OS_WIN
    // Windows takes the icon from the executable's resources; elsewhere the
    // windows need it handed over.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/halcyon.png")));
#endif
    app.setStyleSheet(loadStyleSheet(Settings::styleSheetFile()));

    Vesper window;
    window.show();
    const int result = app.exec();
    SystemLog::flush();
    return result;
}
