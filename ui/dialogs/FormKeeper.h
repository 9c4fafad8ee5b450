#pragma once

#include "store/RegistryLib.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QWidget>

#include <functional>

class QLineEdit;

// Saves and restores the placement of the window that owns it in the key
// "Forms\<FormName>" below RegistryAddress; the window adds values of its own through
// OnLoad and OnSave. Registry errors reach the caller of Load and Save.
class TFormKeeper : public QObject
{
    Q_OBJECT
public:
    using TKeyEvent = std::function<void(TFormKeeper *sender, TRegistryKey &key)>;

    explicit TFormKeeper(QWidget *window);

    TRegistryAddress RegistryAddress{hkeyCurrentUser,
                                     QStringLiteral("\\Software\\morvate\\Zandrel")};
    bool FormStore = true;
    QString FormName; // the window's objectName() when empty
    bool ComponentsStore = false;
    TKeyEvent OnLoad;
    TKeyEvent OnSave;

    QWidget *Window() const { return m_window; }
    QString KeyName() const; // "Forms\" + the effective form name

    // Edit texts and OnLoad first, so a handler still sees the design placement.
    void Load();
    // Normal: "Top", "Left", "Width", "Height" and "WindowState" 0; maximised: only
    // "WindowState" 1, keeping the last normal placement; minimised: no placement.
    void Save();

private:
    QList<QLineEdit *> KeptEdits() const;
    QWidget *m_window;
};
