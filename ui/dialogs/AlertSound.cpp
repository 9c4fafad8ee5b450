#include "ui/dialogs/AlertSound.h"

#include <QFileInfo>
#include <QPointer>
#include <QSoundEffect>
#include <QTimer>
#include <QUrl>

#include <unistd.h>

std::function<void()> AlertBeep = [] {
    if (::isatty(STDERR_FILENO)) {
        const ssize_t written = ::write(STDERR_FILENO, "\a", 1);
        (void)written;
    }
};

namespace {

// A file the backend never finishes loading (a corrupt one) must still give the beep.
constexpr int LoadLimitMs = 2000;
// Without an audio device an effect reports "playing" forever; free it anyway.
constexpr int LifeLimitMs = 60000;

// The sound playing now: a new one replaces it, as one asynchronous wave channel would.
QPointer<QSoundEffect> Playing;

void Beep()
{
    if (AlertBeep)
        AlertBeep();
}

} // namespace

void PlayAlertSound(const QString &fileName)
{
    PlayAlertSound(fileName, nullptr);
}

void PlayAlertSound(const QString &fileName, const std::function<void()> &onFailure)
{
    auto fail = [onFailure] {
        Beep();
        if (onFailure)
            onFailure();
    };
    if (fileName.trimmed().isEmpty() || !QFileInfo(fileName).isFile()) {
        fail();
        return;
    }
    if (Playing)
        Playing->deleteLater();
    auto *effect = new QSoundEffect;
    Playing = effect;
    auto settle = [effect, fail] {
        switch (effect->status()) {
        case QSoundEffect::Ready:
            if (!effect->isPlaying())
                effect->play();
            break;
        case QSoundEffect::Error:
            effect->disconnect();
            effect->deleteLater();
            fail();
            break;
        default:
            break;
        }
    };
    QObject::connect(effect, &QSoundEffect::statusChanged, effect, settle);
    QObject::connect(effect, &QSoundEffect::playingChanged, effect, [effect] {
        if (!effect->isPlaying())
            effect->deleteLater();
    });
    QTimer::singleShot(LoadLimitMs, effect, [effect, fail] {
        if (effect->status() == QSoundEffect::Loading || effect->status() == QSoundEffect::Null) {
            effect->disconnect();
            effect->deleteLater();
            fail();
        }
    });
    QTimer::singleShot(LifeLimitMs, effect, [effect] { effect->deleteLater(); });
    effect->setSource(QUrl::fromLocalFile(QFileInfo(fileName).absoluteFilePath()));
    settle();
}
