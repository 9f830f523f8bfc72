// Watching for a serial device to come back after it went away.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>

// Tells its owner when a device path may be opened again: when something
// changes in the folder that holds the path (inotify, at once), and once a
// second in any case, for folders that come and go (/dev/serial/by-id exists
// only while an adapter is plugged in) and for paths that are not files at all,
// such as a device server's address. It only tells; the owner tries to open
// and stops the watch when that works. Nothing polls faster than once a second,
// so a panel that waits costs what an idle one does.
class DeviceWatch : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::seconds kRecheck{1};

    explicit DeviceWatch(QObject *parent = nullptr);

    // Starts or restarts watching the path; a path that is not a file name
    // (an rfc2217:// or socket:// address, or none) is retried once a second.
    void watch(const QString &path);
    void stop();
    bool isWatching() const { return m_recheck.isActive(); }
    const QString &path() const { return m_path; }

signals:
    // The device may be back: its path names an existing node (or is an
    // address, which only an attempt can tell).
    void mayBeBack();

private:
    void check();
    bool namesFile() const;
    void watchFolder();
    void forgetFolders();

    QString m_path;
    QTimer m_recheck;
    QFileSystemWatcher m_folders;
};
