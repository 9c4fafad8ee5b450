#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QSocketNotifier;

// Ctrl+C and SIGTERM for the command line: the handler only counts and writes one byte to a
// pipe; the main thread turns that byte into an abort. A second signal ends the process at
// once with the "aborted" exit status.
class TCliInterrupts : public QObject
{
    Q_OBJECT
public:
    explicit TCliInterrupts(int exitStatusOnSecond, QObject *parent = nullptr);
    ~TCliInterrupts() override;

    // True once SIGINT or SIGTERM arrived.
    static bool Requested();
    // Runs `start` with both signals blocked, so a thread created inside inherits the blocked
    // mask and only the main thread ever sees them (its blocking calls fail with EINTR).
    static void WithSignalsBlocked(const std::function<void()> &start);

    std::function<void()> OnInterrupt; // main thread, once per signal

private:
    void PipeReadable();
    QSocketNotifier *m_notifier = nullptr;
};

namespace CliTerminal {

bool StdinIsTerminal();
bool StderrIsTerminal();
int StderrColumns();

enum TReadResult { rrLine, rrEof, rrInterrupted };

// Reads one line from standard input (a terminal or not); a signal ends the wait.
TReadResult ReadLine(QString &line);
// Prompts on stderr and reads a line from the terminal on stdin with echo switched off.
TReadResult ReadPassword(const QString &prompt, QString &password);

// A word for a shell: in single quotes when it holds anything but letters, digits and ./_-@.
QString Quoted(const QString &word);

// Writes text to stderr or stdout unbuffered in UTF-8.
void WriteErr(const QString &text);
void WriteOut(const QString &text);

} // namespace CliTerminal
