#pragma once

#include <QAbstractSpinBox>
#include <QCollator>
#include <QListWidgetItem>
#include <QString>
#include <QStyle>
#include <QStyledItemDelegate>

#include <functional>

class QDateTime;
class QIcon;

class QDialogButtonBox;
class QKeyEvent;
class QPushButton;
class QListWidget;
class TSettings;

// Saves settings.dat; a failure is shown in a message box naming the file and the cause.
bool SaveSettingsOrSay(TSettings &settings, QWidget *parent);

// The key rule of the digits-only edits: true when `event` types a character other than a
// digit or Backspace, which is then dropped. Keys without text (arrows, Home), control
// characters (Delete, Tab, Enter) and shortcuts (Ctrl+C, Ctrl+V) pass; pasted text is not
// typed, so it is not filtered.
bool IsDroppedByDigitFilter(const QKeyEvent &event);

// A one-line edit for a whole number within [MinValue, MaxValue], with up/down arrows.
// The text is free (a paste may hold anything); Value reads it leniently.
class TNaturalEdit : public QAbstractSpinBox
{
    Q_OBJECT
public:
    explicit TNaturalEdit(QWidget *parent = nullptr);

    int MinValue() const { return m_minValue; }
    int MaxValue() const { return m_maxValue; }
    // Store the bound; a number in the text beyond it becomes the bound.
    void SetMinValue(int value);
    void SetMaxValue(int value);

    // The text as a decimal number (0 when it is not one), clamped to the bounds.
    int Value() const;
    // Writes the number's text as it is, without clamping.
    void SetValue(int value);

    void SetText(const QString &text);
    // The most characters the text may hold when typed.
    void SetMaxLength(int length);

    void stepBy(int steps) override;
    QValidator::State validate(QString &input, int &pos) const override;
    void fixup(QString &input) const override;
    QSize sizeHint() const override;

signals:
    void TextChanged(const QString &text);

protected:
    StepEnabled stepEnabled() const override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    int m_minValue = 0;
    int m_maxValue = 2147483647;
};

// An item delegate that reports when an in-place editor opens and closes. A one-line editor
// hands Enter on to its view after taking it; views use this to leave that Enter alone.
class TEditTrackingDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit TEditTrackingDelegate(QObject *parent = nullptr);
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override;
    bool Editing() const { return m_editing; }

private:
    mutable bool m_editing = false;
};

// An editable list row that sorts by text without regard to case; texts that differ only in
// case keep a fixed order.
class TSortedTextItem : public QListWidgetItem
{
public:
    explicit TSortedTextItem(const QString &text);
    bool operator<(const QListWidgetItem &other) const override;
};

// Starts editing the selected row nearest the top in place; false when none is selected.
bool EditFirstSelectedRow(QListWidget *list);

// Asks "Remove selected?" and on Yes deletes the selected rows, then selects the row now at
// the first deleted row's place, or the last row. False when nothing was deleted.
bool DeleteSelectedRows(QListWidget *list, QWidget *parent);

// OK and Cancel in the desktop's order, with those object names; OK is the default button.
// The caller connects the box's accepted and rejected signals.
QDialogButtonBox *NewOkCancelButtons(QWidget *parent, QPushButton *&ok, QPushButton *&cancel,
                                     const char *okName = "btnOK",
                                     const char *cancelName = "btnCancel");

// A push button that never takes Enter: Enter belongs to the form's OK.
QPushButton *NewSideButton(QWidget *parent, const char *name, const QString &text);

// A disabled edit takes the button face, so it reads as off.
void ShowButtonFaceWhenDisabled(QWidget *edit);

// Lets `dialog` see the key presses of its controls before they do (eventFilter), as a form
// that previews keys: every child of the dialog's own window, created so far.
void PreviewKeys(QWidget *dialog);

// Names as people read them: "Bild 3" before "Bild 13", case ignored, accents by the user's
// language. The C locale (LANG=C.UTF-8 on a plain install) would compare code points, numbers
// and all: it gets English, the neutral order of every language's letters.
QCollator NameCollator();

// Short date and long time in the user's locale, the time left out at exactly midnight;
// empty for an invalid date.
QString DateTimeText(const QDateTime &date);

class QComboBox;
// The choice of FTP over TLS: "auto", "require", "implicit" or "off" as item data.
QComboBox *NewEncryptionBox(QWidget *parent, const char *name);
void SetEncryption(QComboBox *box, const QString &mode);
QString Encryption(const QComboBox *box);

struct TCertificateInfo;
// Shows what a certificate that does not verify says, or an SSH host key that known_hosts lacks
// (its fingerprint "SHA256:..."), and asks whether to trust it; No is the default.
bool AskTrustCertificate(const TCertificateInfo &certificate, const QString &scope,
                         QWidget *parent);
// The server stopped offering TLS (`text` says so): Yes sends the login in clear this once.
// No is the default.
bool AskPlainLogin(const QString &text, QWidget *parent);
