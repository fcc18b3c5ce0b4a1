#include "headlessjob.h"

#include "compresstask.h"
#include "messages.h"
#include "pathfile.h"
#include "printablename.h"
#include "settings.h"
#include "systemlog.h"

#include <cstdio>

namespace {

bool readSavedPath(const QString &fileName, QString *path)
{
    return PathFile::read(fileName, path) && !path->isEmpty();
}

QString notSavedMessage(const QString &fileName, const QString &emptyMessage)
{
    return PathFile::isTooLarge(fileName) ? Messages::pathFileTooLarge(fileName)
                                          : emptyMessage + QStringLiteral(" (") + fileName + QLatin1Char(')');
}

} // namespace

// UTF-8 into files and pipes, whatever the system's code page.
HeadlessJob::HeadlessJob()
{
    m_out.setCodec("UTF-8");
    m_err.setCodec("UTF-8");
}

int HeadlessJob::exec()
{
    QString source;
    QString output;
    if (!readSavedPath(Settings::sourcePathFile(), &source)) {
        m_err << notSavedMessage(Settings::sourcePathFile(), Messages::emptySource()) << Qt::endl;
        return NothingToDo;
    }
    if (!readSavedPath(Settings::outputPathFile(), &output)) {
        m_err << notSavedMessage(Settings::outputPathFile(), Messages::emptyOutputDirectory()) << Qt::endl;
        return NothingToDo;
    }

    CompressTask task;
    connectTo(task);
    if (!task.startTask(source, Settings::backupSuffix(), false, QString(), output)) {
        m_err << Messages::jobNotStarted() << Qt::endl;
        return SomeFailed;
    }
    task.wait();
    SystemLog::flush();
    return exitCodeFor(task.lastReport());
}

QString HeadlessJob::lineFor(const ArchiveOutcome &outcome)
{
    const QString archive = PrintableName::text(outcome.archivePath);
    if (outcome.failed())
        return archive + QLatin1Char(' ') + Messages::archiveFailed() + QStringLiteral(": ")
               + PrintableName::text(outcome.reason);
    return archive + (outcome.kind == ArchiveOutcome::Kind::Unchanged ? QStringLiteral(" unchanged")
                                                                       : QStringLiteral(" ok"));
}

HeadlessJob::ExitCode HeadlessJob::exitCodeFor(const JobReport &report)
{
    if (report.outputBusy)
        return OutputBusy;
    // Memory ran out outside any archive: whatever was not reached is not archived.
    if (report.aborted)
        return SomeFailed;
    if (report.nothingFound())
        return NothingToDo;
    return report.failed > 0 ? SomeFailed : AllArchived;
}

// Called on the job's thread, which is the only one writing here meanwhile. A name may hold
// a line feed: one archive, one line all the same.
void HeadlessJob::connectTo(CompressTask &task)
{
    const auto direct = Qt::DirectConnection;
    QObject::connect(&task, &CompressTask::sendOutcome, &task, [this](const ArchiveOutcome &outcome) {
        m_out << lineFor(outcome) << Qt::endl;
    }, direct);
    QObject::connect(&task, &CompressTask::sendNoDirMessage, &task, [this](const QString &directory) {
        m_err << PrintableName::text(Messages::noDirectory(directory)) << Qt::endl;
    }, direct);
    QObject::connect(&task, &CompressTask::sendNotFoundMessage, &task, [this] {
        m_err << QString(Messages::nothingFound()).replace(QLatin1Char('\n'), QLatin1Char(' ')) << Qt::endl;
    }, direct);
    QObject::connect(&task, &CompressTask::sendOutputBusy, &task, [this](const QString &directory,
                                                                         const QString &reason) {
        m_err << PrintableName::text(directory) << ' ' << Messages::workerBusy() << reason << Qt::endl;
    }, direct);
}
