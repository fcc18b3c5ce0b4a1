#include "verifycommand.h"

#include "messages.h"
#include "pathfile.h"
#include "printablename.h"
#include "settings.h"
#include "systemlog.h"
#include "verifyjob.h"

namespace {

QString lineFor(const VerifyJob::Outcome &outcome)
{
    const QString archive = PrintableName::text(outcome.archivePath);
    if (outcome.whole)
        return archive + QStringLiteral(" ok");
    const QString damaged = archive + QStringLiteral(" 损坏: ") + PrintableName::text(outcome.reason);
    if (outcome.repaired)
        return damaged + QStringLiteral("；已从 ") + PrintableName::text(outcome.backupPath)
               + QStringLiteral(" 重新写入");
    return damaged + QStringLiteral("；") + PrintableName::text(outcome.notRepairedReason);
}

} // namespace

VerifyCommand::VerifyCommand()
{
    m_out.setCodec("UTF-8");
    m_err.setCodec("UTF-8");
}

int VerifyCommand::exec(const QString &directory)
{
    QString output = directory;
    QString source;
    // Only the saved directories repair: what a path given by hand holds is not known.
    if (directory.isEmpty()) {
        if (!PathFile::read(Settings::outputPathFile(), &output) || output.isEmpty()) {
            m_err << Messages::emptyOutputDirectory() << QStringLiteral(" (") << Settings::outputPathFile() << ')'
                  << Qt::endl;
            return NothingToVerify;
        }
        PathFile::read(Settings::sourcePathFile(), &source);
    }
    VerifyJob job(output, source, Settings::backupSuffix(),
                  [this](const VerifyJob::Outcome &outcome) { m_out << lineFor(outcome) << Qt::endl; });
    const VerifyJob::Report report = job.run();
    SystemLog::flush();
    if (!report.directoryFound) {
        m_err << PrintableName::text(Messages::noDirectory(output)) << Qt::endl;
        return NothingToVerify;
    }
    if (report.archives == 0) {
        m_err << PrintableName::text(output) << QStringLiteral(" 此文件夹中没有压缩文件（*.rar）") << Qt::endl;
        return NothingToVerify;
    }
    return report.damaged > 0 ? SomeDamaged : AllWhole;
}
