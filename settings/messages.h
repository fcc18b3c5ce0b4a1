#ifndef MESSAGES_H
#define MESSAGES_H

#include <QString>

// What the window says to the operator, in one place for the window and its tests.
namespace Messages {

inline QString emptySource() { return QStringLiteral("需要执行任务的目录不能为空！"); }
// Run now says "目录" where switching on says "路径".
inline QString emptyOutputDirectory() { return QStringLiteral("输出压缩文件的目录不能为空！"); }
inline QString emptyOutputPath() { return QStringLiteral("输出压缩文件的路径不能为空！"); }
inline QString unattendedBusy() { return QStringLiteral("无人值守任务正在进行中，请稍候再试！"); }
inline QString workerBusy() { return QStringLiteral("压缩任务正在进行中，请稍候再试！"); }
inline QString noDirectory(const QString &path) { return path + QStringLiteral(" 此路径的文件夹不存在！"); }
inline QString pathNotSaved(const QString &path, const QString &reason)
{
    return path + QStringLiteral(" 此路径未能保存：") + reason;
}
// A path file grown beyond any path: not one that this program wrote.
inline QString pathFileTooLarge(const QString &fileName)
{
    return fileName + QStringLiteral(" 此文件过大（超过 64 KB），无法读取其中保存的路径！");
}
inline QString nothingFound() { return QStringLiteral("在此文件夹中未搜索到 .bak 文件。\n任务执行失败！"); }
inline QString switchOn() { return QStringLiteral("开启"); }
inline QString switchOff() { return QStringLiteral("关闭"); }
inline QString archiveFailed() { return QStringLiteral("压缩失败"); }
inline QString unchanged() { return QStringLiteral("未变化"); }
inline QString jobNotStarted() { return QStringLiteral("系统资源不足，压缩任务未能启动！"); }

} // namespace Messages

#endif // MESSAGES_H
