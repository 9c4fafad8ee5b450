#include "ui/dialogs/FormKeeper.h"

#include <QLineEdit>

namespace {
const QString TopName = QStringLiteral("Top");
const QString LeftName = QStringLiteral("Left");
const QString WidthName = QStringLiteral("Width");
const QString HeightName = QStringLiteral("Height");
const QString StateName = QStringLiteral("WindowState");

QString TextValueName(const QLineEdit *edit)
{
    return edit->objectName() + QStringLiteral(".Text");
}
} // namespace

TFormKeeper::TFormKeeper(QWidget *window)
    : QObject(window)
    , m_window(window)
{
    FormName = window->objectName().trimmed();
}

QString TFormKeeper::KeyName() const
{
    const QString name = FormName.trimmed().isEmpty() ? m_window->objectName() : FormName;
    return QStringLiteral("Forms\\") + name;
}

QList<QLineEdit *> TFormKeeper::KeptEdits() const
{
    // The window's own named edits: not the inner edits of spin and combo boxes ("qt_..."),
    // nor those of other windows parented to this one.
    QList<QLineEdit *> edits;
    for (QLineEdit *edit : m_window->findChildren<QLineEdit *>()) {
        const QString name = edit->objectName();
        if (!name.isEmpty() && !name.startsWith(QStringLiteral("qt_"))
            && edit->window() == m_window)
            edits.append(edit);
    }
    return edits;
}

void TFormKeeper::Load()
{
    const auto key = RegistryAddress.OpenKey(KeyName());
    if (ComponentsStore) {
        for (QLineEdit *edit : KeptEdits())
            edit->setText(key->ReadString(TextValueName(edit)));
    }
    if (OnLoad)
        OnLoad(this, *key);
    if (!FormStore)
        return;

    // Moving or resizing a maximised window makes it normal: only what is stored is applied.
    QPoint position = m_window->pos();
    QSize size = m_window->size();
    const bool top = key->ValueExists(TopName);
    if (top)
        position.setY(key->ReadInteger(TopName));
    const bool left = key->ValueExists(LeftName);
    if (left)
        position.setX(key->ReadInteger(LeftName));
    const bool width = key->ValueExists(WidthName);
    if (width)
        size.setWidth(key->ReadInteger(WidthName));
    const bool height = key->ValueExists(HeightName);
    if (height)
        size.setHeight(key->ReadInteger(HeightName));
    if (top || left)
        m_window->move(position);
    if (width || height)
        m_window->resize(size);

    if (key->ValueExists(StateName)) {
        const Qt::WindowStates state = m_window->windowState();
        switch (key->ReadInteger(StateName)) {
        case 0:
            m_window->setWindowState(
                state & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
            break;
        case 1:
            m_window->setWindowState((state & ~(Qt::WindowMinimized | Qt::WindowFullScreen))
                                     | Qt::WindowMaximized);
            break;
        default:
            break;
        }
    }
}

void TFormKeeper::Save()
{
    const auto key = RegistryAddress.OpenKey(KeyName());
    if (FormStore) {
        const Qt::WindowStates state = m_window->windowState();
        if (state & Qt::WindowMinimized) {
            // Nothing: the stored placement is the one to come back to.
        } else if (state & (Qt::WindowMaximized | Qt::WindowFullScreen)) {
            key->WriteInteger(StateName, 1);
        } else {
            key->WriteInteger(TopName, m_window->pos().y());
            key->WriteInteger(LeftName, m_window->pos().x());
            key->WriteInteger(WidthName, m_window->width());
            key->WriteInteger(HeightName, m_window->height());
            key->WriteInteger(StateName, 0);
        }
    }
    if (ComponentsStore) {
        for (QLineEdit *edit : KeptEdits())
            key->WriteString(TextValueName(edit), edit->text());
    }
    if (OnSave)
        OnSave(this, *key);
    key->Commit();
}
