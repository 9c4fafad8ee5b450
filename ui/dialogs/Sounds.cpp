#include "ui/dialogs/Sounds.h"

#include "ui/dialogs/EditLib.h"

#include "ui/dialogs/AlertSound.h"
#include "store/Settings.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

QString SoundsFolder()
{
    return QStringLiteral("/usr/share/sounds");
}

TfrmAlertSounds::TfrmAlertSounds(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAlertSounds"));
    setWindowTitle(QStringLiteral("Sounds"));
    auto named = [](auto *widget, const char *name) {
        widget->setObjectName(QString::fromLatin1(name));
        return widget;
    };
    cbxEnable = named(new QCheckBox(QStringLiteral("&Enable the alert sounds"), this), "cbxEnable");
    lblComplete = named(new QLabel(QStringLiteral("On &Complete"), this), "lblComplete");
    edtComplete = named(new QLineEdit(this), "edtComplete");
    btnSelectComplete
        = named(new QPushButton(QStringLiteral("Select..."), this), "btnSelectComplete");
    btnTestComplete = named(new QPushButton(QStringLiteral("Test"), this), "btnTestComplete");
    lblError = named(new QLabel(QStringLiteral("On E&rror"), this), "lblError");
    edtError = named(new QLineEdit(this), "edtError");
    btnSelectError = named(new QPushButton(QStringLiteral("Select..."), this), "btnSelectError");
    btnTestError = named(new QPushButton(QStringLiteral("Test"), this), "btnTestError");
    lblComplete->setBuddy(edtComplete);
    lblError->setBuddy(edtError);
    for (QPushButton *button : {btnSelectComplete, btnTestComplete, btnSelectError, btnTestError})
        button->setAutoDefault(false);
    QDialogButtonBox *buttons = NewOkCancelButtons(this, btnOK, btnCancel);

    auto *grid = new QGridLayout;
    grid->addWidget(lblComplete, 0, 0, 1, 3);
    grid->addWidget(edtComplete, 1, 0);
    grid->addWidget(btnSelectComplete, 1, 1);
    grid->addWidget(btnTestComplete, 1, 2);
    grid->addWidget(lblError, 2, 0, 1, 3);
    grid->addWidget(edtError, 3, 0);
    grid->addWidget(btnSelectError, 3, 1);
    grid->addWidget(btnTestError, 3, 2);
    grid->setColumnStretch(0, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(cbxEnable);
    layout->addLayout(grid);
    layout->addStretch();
    layout->addWidget(buttons);
    resize(420, sizeHint().height());

    AskSoundFile = [this](const QString &start) {
        return QFileDialog::getOpenFileName(this, QString(), start,
                                            QStringLiteral("Sound Files (*.wav);;All Files (*)"));
    };
    connect(cbxEnable, &QCheckBox::toggled, this, &TfrmAlertSounds::UpdateControls);
    connect(btnSelectComplete, &QPushButton::clicked, this, [this] { SelectSound(edtComplete); });
    connect(btnSelectError, &QPushButton::clicked, this, [this] { SelectSound(edtError); });
    connect(btnTestComplete, &QPushButton::clicked, this, [this] { TestSound(edtComplete); });
    connect(btnTestError, &QPushButton::clicked, this, [this] { TestSound(edtError); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    UpdateControls();
}

void TfrmAlertSounds::UpdateControls()
{
    const bool enabled = cbxEnable->isChecked();
    for (QWidget *widget : std::initializer_list<QWidget *>{
             lblComplete, edtComplete, btnSelectComplete, btnTestComplete, lblError, edtError,
             btnSelectError, btnTestError})
        widget->setEnabled(enabled);
}

QString TfrmAlertSounds::StartFor(QLineEdit *edit) const
{
    if (!edit->text().trimmed().isEmpty())
        return edit->text();
    for (QLineEdit *other : {edtComplete, edtError}) {
        if (!other->text().trimmed().isEmpty())
            return QFileInfo(other->text().trimmed()).absolutePath();
    }
    return SoundsFolder();
}

void TfrmAlertSounds::SelectSound(QLineEdit *edit)
{
    const QString chosen = AskSoundFile(StartFor(edit));
    if (!chosen.isEmpty())
        edit->setText(QFileInfo(chosen).absoluteFilePath());
}

void TfrmAlertSounds::TestSound(QLineEdit *edit)
{
    const QString fileName = edit->text();
    if (!QFileInfo(fileName).isFile()) {
        if (AlertBeep)
            AlertBeep();
        QMessageBox::warning(
            this, windowTitle(),
            QStringLiteral("Sound file is not exists. Will be used default sound."));
        return;
    }
    QPointer<TfrmAlertSounds> self(this);
    PlayAlertSound(fileName, [self] {
        if (self)
            QMessageBox::warning(
                self, self->windowTitle(),
                QStringLiteral("Sound file is incorrect. Will be used default sound."));
    });
}

void EditAlertSounds(QWidget *owner)
{
    TSettings settings;
    TfrmAlertSounds dialog(owner);
    dialog.cbxEnable->setChecked(settings.SoundEnabled);
    dialog.edtComplete->setText(settings.CompleteSound);
    dialog.edtError->setText(settings.ErrorSound);
    dialog.UpdateControls();
    if (dialog.exec() != QDialog::Accepted)
        return;
    settings.SoundEnabled = dialog.cbxEnable->isChecked();
    settings.CompleteSound = dialog.edtComplete->text();
    settings.ErrorSound = dialog.edtError->text();
    SaveSettingsOrSay(settings, owner);
}
