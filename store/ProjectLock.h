#pragma once

#include <QString>

// One process at a time works on a project: the main window while the project is open, the FTP
// window opened for it and zandrel-cli for a whole command take this lock first. It is an
// flock() on "<project file>.lock" beside the project, so the kernel releases it however the
// holder ends (a killed run leaves nothing to clear). The file names the holders, one
// "pid program" line each, for the message that refuses the others.
class TProjectLock
{
public:
    TProjectLock() = default;
    ~TProjectLock() { Release(); }
    TProjectLock(TProjectLock &&other) noexcept;
    TProjectLock &operator=(TProjectLock &&other) noexcept;
    TProjectLock(const TProjectLock &) = delete;
    TProjectLock &operator=(const TProjectLock &) = delete;

    // Takes the lock of `projectFile` (releasing the one held before); false with `refusal` set
    // when another process holds it ("The project X is in use by zandrel-cli (process 1234)")
    // or the lock file cannot be made.
    bool Lock(const QString &projectFile, QString &refusal);
    // Shares the lock that the starting process handed down on the descriptor named by
    // ProjectLockVariable, when it is the lock of `projectFile`.
    bool Adopt(const QString &projectFile);
    void Release();
    bool Locked() const { return m_fd >= 0; }
    bool Holds(const QString &projectFile) const;
    // The descriptor to hand down to a child process (see Adopt); -1 when not locked.
    int Descriptor() const { return m_fd; }

    static QString LockFileName(const QString &projectFile);

private:
    int m_fd = -1;
    QString m_lockFile;
};

// The environment variable that tells a child which inherited descriptor holds the lock.
inline constexpr char ProjectLockVariable[] = "ZANDREL_PROJECT_LOCK_FD";
// The descriptor number the lock is handed down on.
inline constexpr int ProjectLockDescriptor = 3;
