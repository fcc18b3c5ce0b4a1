#include "outputreserve.h"

#include <QDir>

namespace {

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 2) + QStringLiteral(" MB");
}

} // namespace

OutputReserve::OutputReserve(const QString &outputDir, const JobSettings::Reserve &reserve)
    : m_volume(outputDir)
    , m_setting(reserve)
{
}

bool OutputReserve::allows(qint64 bytes)
{
    m_volume.refresh();
    if (!m_volume.isValid() || !m_volume.isReady() || m_volume.bytesTotal() <= 0)
        return true;
    const qint64 reserve = m_setting.bytesOn(m_volume.bytesTotal());
    const qint64 available = m_volume.bytesAvailable();
    if (reserve <= 0 || available - bytes >= reserve)
        return true;
    m_reason = QStringLiteral("输出目录所在的卷 %1 可用空间为 %2，再写入 %3 将低于为其保留的 %4（halcyon.ini 中 [output] reserve=%5）")
                   .arg(QDir::toNativeSeparators(m_volume.rootPath()), megabytes(available), megabytes(bytes),
                        megabytes(reserve), m_setting.text());
    return false;
}
