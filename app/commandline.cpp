#include "commandline.h"

#include <QCommandLineParser>

#include <cstring>

namespace {

// Qt's options for its GUI, its widgets and X11: meaningless without a window, but a task
// that passes them keeps working.
const char *const kQtOptionsWithValue[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "qwindowicon",
    "qwindowtitle", "session", "style", "stylesheet", "display", "geometry", "name", "title",
    "visual", "fn", "font", "bg", "background", "fg", "foreground", "btn", "button", "im",
    "inputstyle", "ncols", "qmljsdebugger"};
const char *const kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync", "cmap"};

} // namespace

bool CommandLine::wantsRun(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--run") == 0 || std::strcmp(argv[i], "-run") == 0)
            return true;
    }
    return false;
}

bool CommandLine::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    // Qt's options have one dash and whole words: -platform offscreen.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption run(QStringLiteral("run"));
    const QCommandLineOption help(QStringList{QStringLiteral("help"), QStringLiteral("h"), QStringLiteral("?")});
    parser.addOption(run);
    parser.addOption(help);
    for (const char *name : kQtOptionsWithValue)
        parser.addOption(QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("value")));
    for (const char *name : kQtFlags)
        parser.addOption(QCommandLineOption(QString::fromLatin1(name)));
    if (!parser.parse(arguments)) {
        m_error = parser.errorText();
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        m_error = QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().first());
        return false;
    }
    m_run = parser.isSet(run);
    m_help = parser.isSet(help);
    return true;
}

QString CommandLine::usage()
{
    return QStringLiteral("Usage: halcyon [--run] [Qt options]\n"
                          "  --run  archive the saved source directory into the saved output directory\n"
                          "         once, with no window, and exit: 0 all archived, 1 some failed,\n"
                          "         2 nothing to do (a path not saved, no source, no .bak),\n"
                          "         3 another job is writing into the output directory\n");
}
