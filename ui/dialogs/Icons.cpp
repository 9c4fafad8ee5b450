#include "ui/dialogs/Icons.h"

#include <QCoreApplication>
#include <QIconEngine>
#include <QImage>
#include <QMimeDatabase>
#include <QPainter>
#include <QPixmap>

namespace {

const QString FallbackTheme = QStringLiteral("zandrel-fallback");

// Qt's own disabled mode maps dark grey to a slightly lighter grey: a monochrome icon (Breeze's
// actions) then looks as on as before. Grey at 40% opacity reads as off on light and dark
// backgrounds alike.
QPixmap Dimmed(const QPixmap &pixmap)
{
    QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int gray = qGray(line[x]);
            line[x] = qRgba(gray, gray, gray, qAlpha(line[x]) * 2 / 5);
        }
    }
    QPixmap dimmed = QPixmap::fromImage(image);
    dimmed.setDevicePixelRatio(pixmap.devicePixelRatio());
    return dimmed;
}

// Draws a theme icon as it is, except the disabled mode, which it dims itself.
class TDimmedDisabledEngine : public QIconEngine
{
public:
    explicit TDimmedDisabledEngine(const QIcon &icon)
        : m_icon(icon)
    {
    }

    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override
    {
        // `size` is in device pixels here, as QIcon::pixmap asks for it.
        const QSize logical = scale > 0 ? size / scale : size;
        if (mode != QIcon::Disabled)
            return m_icon.pixmap(logical, scale, mode, state);
        return Dimmed(m_icon.pixmap(logical, scale, QIcon::Normal, state));
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }
    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal scale = painter->device()->devicePixelRatio();
        painter->drawPixmap(rect, scaledPixmap(rect.size() * scale, mode, state, scale));
    }
    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return m_icon.actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return m_icon.availableSizes(mode, state);
    }
    QString iconName() override { return m_icon.name(); }
    bool isNull() override { return m_icon.isNull(); }
    QString key() const override { return QStringLiteral("zandrel-dimmed-disabled"); }
    QIconEngine *clone() const override { return new TDimmedDisabledEngine(m_icon); }

private:
    QIcon m_icon;
};

} // namespace

void SetUpFallbackIcons()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    // The theme lives in the resources under :/icons/zandrel-fallback; Qt searches :/icons by
    // default, but a program may have reset the paths.
    QStringList paths = QIcon::themeSearchPaths();
    if (!paths.contains(QStringLiteral(":/icons"))) {
        paths.append(QStringLiteral(":/icons"));
        QIcon::setThemeSearchPaths(paths);
    }
    // Every theme without parents of its own inherits the fallback theme, hicolor included,
    // which all desktop themes inherit.
    QIcon::setFallbackThemeName(FallbackTheme);
}
// Before the first window looks up an icon: a theme read before the fallback name is set would
// keep its parents without it.
Q_COREAPP_STARTUP_FUNCTION(SetUpFallbackIcons)

namespace {

// Without a platform theme naming one (a plain window manager) there is no theme at all, and
// Qt then looks nowhere: the fallback becomes the theme. Asked only once the application is
// up, as the platform theme answers then.
void UseFallbackThemeIfNone()
{
    SetUpFallbackIcons();
    static const bool checked = [] {
        if (QIcon::themeName().isEmpty())
            QIcon::setThemeName(FallbackTheme);
        return true;
    }();
    Q_UNUSED(checked);
}

} // namespace

QIcon ThemeIcon(const QString &name)
{
    UseFallbackThemeIfNone();
    return QIcon(new TDimmedDisabledEngine(QIcon::fromTheme(name)));
}

QIcon FolderIcon(bool open)
{
    UseFallbackThemeIfNone();
    return QIcon::fromTheme(open ? QStringLiteral("folder-open") : QStringLiteral("folder"));
}

QIcon FileTypeIcon(const QString &fileName)
{
    UseFallbackThemeIfNone();
    static const QMimeDatabase database;
    const QMimeType type = database.mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    for (const QString &name :
         {type.iconName(), type.genericIconName(), QStringLiteral("text-x-generic")}) {
        if (!name.isEmpty() && QIcon::hasThemeIcon(name))
            return QIcon::fromTheme(name);
    }
    return QIcon::fromTheme(QStringLiteral("unknown"));
}
