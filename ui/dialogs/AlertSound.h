#pragma once

#include <QString>

#include <functional>

// The default beep used when a sound cannot be played. By default it writes "\a" to stderr
// when that is a terminal; the GUI installs QApplication::beep.
extern std::function<void()> AlertBeep;

// Starts playing a wave file and returns at once; a file that cannot be played gives the
// default beep instead. Call it on a thread that runs an event loop.
void PlayAlertSound(const QString &fileName);
// The same; `onFailure` runs after the beep when the file could not be played (it may run
// later, from the event loop, once the file has turned out to be unplayable).
void PlayAlertSound(const QString &fileName, const std::function<void()> &onFailure);
