#include "engine/AlertSound.h"

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
    if (fileName.trimmed().isEmpty() || !QFileInfo(fileName).isFile()) {
        Beep();
        return;
    }
    if (Playing)
        Playing->deleteLater();
    auto *effect = new QSoundEffect;
    Playing = effect;
    auto settle = [effect] {
        switch (effect->status()) {
        case QSoundEffect::Ready:
            if (!effect->isPlaying())
                effect->play();
            break;
        case QSoundEffect::Error:
            effect->disconnect();
            Beep();
            effect->deleteLater();
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
    QTimer::singleShot(LoadLimitMs, effect, [effect] {
        if (effect->status() == QSoundEffect::Loading || effect->status() == QSoundEffect::Null) {
            effect->disconnect();
            Beep();
            effect->deleteLater();
        }
    });
    QTimer::singleShot(LifeLimitMs, effect, [effect] { effect->deleteLater(); });
    effect->setSource(QUrl::fromLocalFile(QFileInfo(fileName).absoluteFilePath()));
    settle();
}
