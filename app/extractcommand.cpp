#include "extractcommand.h"

#include "archiveextractor.h"
#include "printablename.h"

#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

constexpr qint64 kProgressFrom = qint64(1) << 30;
constexpr qint64 kShowEveryMs = 500;

} // namespace

ExtractCommand::ExtractCommand()
{
    m_out.setCodec("UTF-8");
    m_err.setCodec("UTF-8");
}

int ExtractCommand::exec(const QString &archivePath, const QString &directory)
{
    ArchiveExtractor extractor;
    m_started.start();
    const bool terminal = isatty(fileno(stderr));
    const bool done = extractor.extract(archivePath, directory.isEmpty() ? QStringLiteral(".") : directory,
                                        [this, terminal](qint64 bytes, qint64 total) {
                                            if (terminal && total > kProgressFrom)
                                                showProgress(bytes, total);
                                        });
    if (m_shownAt >= 0)
        m_err << Qt::endl;
    if (!done) {
        m_out << PrintableName::text(archivePath) << QStringLiteral(" 解压失败: ")
              << PrintableName::text(extractor.errorString()) << Qt::endl;
        return 1;
    }
    m_out << PrintableName::text(extractor.targetPath()) << QStringLiteral(" ok") << Qt::endl;
    return 0;
}

// As pv shows it: how far, and how fast.
void ExtractCommand::showProgress(qint64 done, qint64 total)
{
    const qint64 elapsed = m_started.elapsed();
    if (m_shownAt >= 0 && elapsed - m_shownAt < kShowEveryMs && done < total)
        return;
    m_shownAt = elapsed;
    const double mebibytesPerSecond = elapsed > 0 ? double(done) / 1048576.0 / (double(elapsed) / 1000.0) : 0;
    m_err << '\r' << QString::number(done * 100 / total).rightJustified(3) << "% "
          << QString::number(mebibytesPerSecond, 'f', 1) << " MB/s" << Qt::flush;
}
