// Watching for a serial device to come back after it went away.
#include "devicewatch.h"

#include "endpoint.h"

#include <QDir>
#include <QFileInfo>

DeviceWatch::DeviceWatch(QObject *parent)
    : QObject(parent)
{
    m_recheck.setInterval(kRecheck);
    connect(&m_recheck, &QTimer::timeout, this, &DeviceWatch::check);
    connect(&m_folders, &QFileSystemWatcher::directoryChanged, this, &DeviceWatch::check);
}

void DeviceWatch::watch(const QString &path)
{
    stop();
    m_path = path;
    watchFolder();
    m_recheck.start();
}

void DeviceWatch::stop()
{
    m_recheck.stop();
    forgetFolders();
}

void DeviceWatch::forgetFolders()
{
    if (const QStringList folders = m_folders.directories(); !folders.isEmpty())
        m_folders.removePaths(folders);
}

void DeviceWatch::check()
{
    if (!isWatching())
        return;
    // A folder that was missing may exist now; a replaced one needs watching anew.
    watchFolder();
    if (!namesFile() || QFileInfo::exists(m_path))
        emit mayBeBack();
}

bool DeviceWatch::namesFile() const
{
    return !m_path.isEmpty() && !Endpoint::looksLikeUrl(m_path);
}

void DeviceWatch::watchFolder()
{
    if (!namesFile())
        return;
    // The nearest folder that exists: where the path's own folder will appear.
    QString folder = QFileInfo(m_path).absolutePath();
    while (!QFileInfo(folder).isDir() && !QDir(folder).isRoot())
        folder = QFileInfo(folder).absolutePath();
    if (!m_folders.directories().contains(folder)) {
        forgetFolders();
        m_folders.addPath(folder);
    }
}
