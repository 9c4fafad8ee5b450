#pragma once

#include <QDialog>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The alert sounds: on/off, the sound on completion and the sound on errors.
class TfrmAlertSounds : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmAlertSounds(QWidget *parent = nullptr);

    void UpdateControls();
    // Where "Select..." starts for `edit`: its own file, else beside one of the two sounds,
    // else the desktop's sound folder.
    QString StartFor(QLineEdit *edit) const;
    void SelectSound(QLineEdit *edit);
    void TestSound(QLineEdit *edit);

    // The file dialog; returns the chosen file or "". Replaceable for tests.
    std::function<QString(const QString &start)> AskSoundFile;

    QCheckBox *cbxEnable;
    QLabel *lblComplete;
    QLineEdit *edtComplete;
    QPushButton *btnSelectComplete;
    QPushButton *btnTestComplete;
    QLabel *lblError;
    QLineEdit *edtError;
    QPushButton *btnSelectError;
    QPushButton *btnTestError;
    QPushButton *btnOK;
    QPushButton *btnCancel;
};

// Shows the sounds dialog for the current settings and saves them on OK.
void EditAlertSounds(QWidget *owner = nullptr);

// The desktop's sound folder, where picking a sound starts.
QString SoundsFolder();
