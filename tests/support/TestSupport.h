#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QMap>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <thread>

// Readable failure messages for Qt strings (and, through them, string lists).
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

QByteArray ReadWholeFile(const QString &path);
void WriteWholeFile(const QString &path, const QByteArray &data); // creates missing folders
QString TestDataPath(const QString &name);                        // tests/data/<name>
// Relative path -> content of every file below `root`, and "path/" -> "" for every folder.
QMap<QString, QByteArray> TreeOf(const QString &root, const QStringList &leaveOut = {});
void SetFileAge(const QString &path, qint64 secondsAgo); // last write `secondsAgo` before now

// Runs `call`, which must throw E; returns the exception's message.
template <class E, class F> QString ErrorOf(F &&call)
{
    try {
        call();
    } catch (const E &error) {
        return error.Message();
    }
    ADD_FAILURE() << "nothing was thrown";
    return {};
}

// Runs `call`, which must fail with E "Operation aborted" once another thread has called
// `target.Abort()` 300 ms in; returns the milliseconds from Abort to the failure.
template <class E, class T, class F> qint64 AbortedAfter(T &target, F &&call)
{
    QElapsedTimer timer;
    timer.start();
    std::thread aborter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        target.Abort();
    });
    EXPECT_EQ(ErrorOf<E>(call), "Operation aborted");
    aborter.join();
    return timer.elapsed() - 300;
}

// Full-disk tests. In a test body, RUN_ON_TINY_DISK() runs the test again, as root, inside a
// private mount namespace (unshare --mount) with a 64 KiB tmpfs mounted on TinyDisk(); the
// outer run takes the inner run's result. Skips without root or a usable unshare.
#define RUN_ON_TINY_DISK()                                                                         \
    if (TinyDisk().isEmpty()) {                                                                    \
        const QString skipped = RunTestOnTinyDisk();                                               \
        if (!skipped.isEmpty())                                                                    \
            GTEST_SKIP() << skipped.toStdString();                                                 \
        return;                                                                                    \
    }
QString TinyDisk();                   // the tmpfs in the inner run; empty in the outer run
QString RunTestOnTinyDisk();          // the reason to skip, or empty once the inner run has ended
void FillDisk(const QString &folder); // writes "filler" in `folder` until the disk is full
