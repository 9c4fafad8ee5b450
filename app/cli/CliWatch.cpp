// zandrel-cli watch: publish on save.
#include "app/cli/CliWatch.h"

#include "app/cli/CliArguments.h"
#include "app/cli/CliFrontEnd.h"
#include "app/cli/CliTerminal.h"
#include "engine/FolderWatch.h"
#include "engine/PublishList.h"
#include "store/PrjCls.h"

#include <QEventLoop>
#include <QTime>

#include <unistd.h>

namespace {

// One line per event of the watch, as a log line (or a "watch" JSON object).
void Say(const TArguments &args, int level, const QString &text, QJsonObject json = {})
{
    if (args.Json) {
        json.insert(QStringLiteral("event"), QStringLiteral("watch"));
        json.insert(QStringLiteral("level"),
                    level == 1 ? QStringLiteral("error") : QStringLiteral("info"));
        json.insert(QStringLiteral("text"), text);
        WriteJson(json);
    } else if (level == 1)
        CliTerminal::WriteErr(QStringLiteral("zandrel-cli: %1\n").arg(text));
    else if (!args.Quiet)
        CliTerminal::WriteOut(text + QLatin1Char('\n'));
}

} // namespace

int WatchCommand(const TArguments &args, TProject &project, TCliFrontEnd &frontEnd,
                 TCliInterrupts &interrupts)
{
    TFolderWatch watch;
    QEventLoop idle;
    bool stop = false;
    bool pending = true; // the first upload runs at once: the site is in step before any save
    bool running = false;
    // Ctrl+C between uploads ends at once; during one it aborts it the engine's usual way
    // (records only for files sent whole), then ends.
    interrupts.OnInterrupt = [&] {
        stop = true;
        frontEnd.Interrupt();
        idle.quit();
    };
    QObject::connect(&watch, &TFolderWatch::Problem,
                     [&](const QString &text) { Say(args, 1, text); });
    QObject::connect(&watch, &TFolderWatch::Changed, [&] {
        pending = true;
        if (!running)
            idle.quit();
    });
    QString error;
    if (!watch.Start(project, error)) {
        Say(args, 1, project.FileName + QStringLiteral(": ") + error);
        return esErrors;
    }
    Say(args, 0,
        QStringLiteral("Watching %1 (%2 folder(s)); saved changes are uploaded after %3 s of "
                       "quiet; Ctrl+C ends")
            .arg(project.GetLocalPath())
            .arg(watch.WatchedCount())
            .arg(double(watch.QuietMs) / 1000.0, 0, 'f', 1));

    while (!stop) {
        if (!pending) {
            idle.exec();
            continue;
        }
        pending = false;
        running = true;
        TFileList fileList;
        const TCliFrontEnd::TOutcome outcome
            = frontEnd.Run(&fileList, pkUpload, &project, true, false);
        running = false;
        const QString time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
        QJsonObject json{{QStringLiteral("files"), outcome.Files},
                         {QStringLiteral("folders"), outcome.Folders}};
        if (outcome.Aborted) {
            json.insert(QStringLiteral("result"), QStringLiteral("aborted"));
            Say(args, 0,
                QStringLiteral("[%1] upload aborted; the records keep the files sent whole")
                    .arg(time),
                json);
        } else if (outcome.HadErrors || outcome.SaveFailed) {
            json.insert(QStringLiteral("result"), QStringLiteral("errors"));
            Say(args, 1,
                QStringLiteral("[%1] upload completed with errors: %2 file(s) and %3 folder(s) "
                               "sent; the files not sent are tried again after the next save")
                    .arg(time)
                    .arg(outcome.Files)
                    .arg(outcome.Folders),
                json);
        } else {
            json.insert(QStringLiteral("result"), QStringLiteral("success"));
            Say(args, 0,
                QStringLiteral("[%1] upload done: %2 file(s) and %3 folder(s) sent")
                    .arg(time)
                    .arg(outcome.Files)
                    .arg(outcome.Folders),
                json);
        }
        // A worker still blocked must not see its objects destroyed under it.
        if (outcome.Stuck)
            ::_exit(stop ? esSuccess : esErrors);
        // A login the user must allow first would be refused on every save alike.
        if (outcome.PlainRefused)
            return esUsage;
    }
    Say(args, 0, QStringLiteral("Watch ended"));
    return esSuccess;
}
