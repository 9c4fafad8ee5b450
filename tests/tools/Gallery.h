#pragma once

// Shared by the gallery programs, which save pictures of windows as the X server draws them.

#include "tests/support/GuiTestSupport.h"

#include <QScreen>
#include <QTest>

#include <cstdio>

// Saves `window` as FOLDER/NAME.png once fonts, icons and the focus frame have settled.
inline bool SaveShot(QWidget *window, const QString &folder, const QString &name)
{
    QTest::qWait(600);
    const QString file = folder + '/' + name + ".png";
    const QPixmap shot = window->screen()->grabWindow(window->winId());
    if (shot.isNull() || !shot.save(file)) {
        std::fprintf(stderr, "could not save %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
}
