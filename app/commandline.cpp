#include "commandline.h"

#include <QCommandLineParser>

namespace {

// Qt's options for its GUI, its widgets and X11: meaningless without a window, but a task
// that passes them keeps working.
const char *const kQtOptionsWithValue[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "qwindowicon",
    "qwindowtitle", "session", "style", "stylesheet", "display", "geometry", "name", "title",
    "visual", "fn", "font", "bg", "background", "fg", "foreground", "btn", "button", "im",
    "inputstyle", "ncols", "qmljsdebugger"};
const char *const kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync", "cmap", "testability"};

} // namespace

QStringList CommandLine::arguments(int argc, char **argv)
{
    QStringList list;
    for (int i = 0; i < argc; ++i)
        list << QString::fromLocal8Bit(argv[i]);
    return list;
}

bool CommandLine::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    // Qt's options have one dash and whole words: -platform offscreen.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption run(QStringLiteral("run"));
    const QCommandLineOption help(QStringList{QStringLiteral("help"), QStringLiteral("h"), QStringLiteral("?")});
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption verify(QStringLiteral("verify"));
    const QCommandLineOption extract(QStringLiteral("extract"));
    for (const QCommandLineOption &option : {run, help, version, verify, extract})
        parser.addOption(option);
    for (const char *name : kQtOptionsWithValue)
        parser.addOption(QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("value")));
    for (const char *name : kQtFlags)
        parser.addOption(QCommandLineOption(QString::fromLatin1(name)));
    if (!parser.parse(arguments)) {
        m_error = parser.errorText();
        return false;
    }
    m_run = parser.isSet(run);
    m_help = parser.isSet(help);
    m_version = parser.isSet(version);
    m_verify = parser.isSet(verify);
    m_extract = parser.isSet(extract);
    m_paths = parser.positionalArguments();
    return checkCommand();
}

// One command at a time, with the paths it takes.
bool CommandLine::checkCommand()
{
    if (int(m_run) + int(m_verify) + int(m_extract) > 1) {
        m_error = QStringLiteral("--run, --verify and --extract go alone.");
        return false;
    }
    const int most = m_verify ? 1 : m_extract ? 2 : 0;
    if (m_paths.size() > most) {
        m_error = QStringLiteral("Unexpected argument '%1'.").arg(m_paths.at(most));
        return false;
    }
    if (m_extract && m_paths.isEmpty()) {
        m_error = QStringLiteral("--extract needs the archive.");
        return false;
    }
    return true;
}

QString CommandLine::usage()
{
    return QStringLiteral("Usage: halcyon [--run] [Qt options]\n"
                          "       halcyon --verify [DIRECTORY]\n"
                          "       halcyon --extract ARCHIVE [DIRECTORY]\n"
                          "       halcyon --help | --version\n"
                          "With no option, opens the window. Options:\n"
                          "  --run          archive the saved source directory into the saved output\n"
                          "                 directory once, with no window, one line per archive\n"
                          "  --verify       read every archive of DIRECTORY (the saved output directory)\n"
                          "                 back from the disk and prove it; without DIRECTORY, write a\n"
                          "                 damaged one anew from its backup where that still stands\n"
                          "  --extract      give the backup in ARCHIVE back into DIRECTORY (the current\n"
                          "                 directory), proven, with its time; never replaces a file\n"
                          "  -h, --help     show this help and exit\n"
                          "  --version      show the version and exit\n"
                          "Exit status of --run:\n"
                          "  0   every backup was archived\n"
                          "  1   at least one archive failed\n"
                          "  2   nothing to do: a path not saved, no source directory, no .bak file\n"
                          "  3   another job is writing into the output directory\n"
                          " 64   an unknown option (also without --run)\n"
                          "Exit status of --verify: 0 all whole, 1 something damaged (repaired or not),\n"
                          "  2 no such directory or no archive in it. Of --extract: 0 done, 1 not.\n");
}

QString CommandLine::versionText()
{
    return QStringLiteral("Halcyon压缩 ") + QStringLiteral(HALCYON_VERSION);
}
