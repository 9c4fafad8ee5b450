#include "ui/dialogs/EditLib.h"

#include "ftp/FtpTls.h"
#include "store/Settings.h"
#include "store/XMLStore.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionSpinBox>

#include <algorithm>

bool IsDroppedByDigitFilter(const QKeyEvent &event)
{
    if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const QString text = event.text();
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        const bool control = c.unicode() < 0x20 || c.unicode() == 0x7f;
        if (!control && !(c >= u'0' && c <= u'9'))
            return true;
    }
    return false;
}

namespace {
// The number in the text without clamping; 0 when it is not a decimal int.
int NumberOf(const QString &text)
{
    bool ok = false;
    const int number = text.toInt(&ok, 10);
    return ok ? number : 0;
}
} // namespace

TNaturalEdit::TNaturalEdit(QWidget *parent)
    : QAbstractSpinBox(parent)
{
    lineEdit()->setText(QStringLiteral("0"));
    connect(lineEdit(), &QLineEdit::textChanged, this, &TNaturalEdit::TextChanged);
}

void TNaturalEdit::SetMinValue(int value)
{
    m_minValue = value;
    if (NumberOf(text()) < value)
        SetValue(value);
    update(); // the arrows' enabled look
}

void TNaturalEdit::SetMaxValue(int value)
{
    m_maxValue = value;
    if (NumberOf(text()) > value)
        SetValue(value);
    update();
}

int TNaturalEdit::Value() const
{
    return std::clamp(NumberOf(text()), m_minValue, std::max(m_minValue, m_maxValue));
}

void TNaturalEdit::SetValue(int value)
{
    SetText(QString::number(value));
}

void TNaturalEdit::SetText(const QString &text)
{
    lineEdit()->setText(text);
    update();
}

void TNaturalEdit::SetMaxLength(int length)
{
    lineEdit()->setMaxLength(length);
}

void TNaturalEdit::stepBy(int steps)
{
    const qint64 value = Value();
    qint64 next = value;
    if (steps > 0 && value < m_maxValue)
        next = std::min<qint64>(value + steps, m_maxValue);
    else if (steps < 0 && value > m_minValue)
        next = std::max<qint64>(value + steps, m_minValue);
    if (next == value)
        return;
    const int caret = lineEdit()->cursorPosition();
    SetValue(int(next));
    lineEdit()->setCursorPosition(caret);
}

QValidator::State TNaturalEdit::validate(QString &, int &) const
{
    // Every text is kept as it is: Value reads a non-number as 0.
    return QValidator::Acceptable;
}

void TNaturalEdit::fixup(QString &) const {}

QSize TNaturalEdit::sizeHint() const
{
    // Room for six digits and the arrows; layouts widen it as they like.
    ensurePolished();
    QStyleOptionSpinBox option;
    initStyleOption(&option);
    const QSize text(fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 8,
                     lineEdit()->sizeHint().height());
    return style()->sizeFromContents(QStyle::CT_SpinBox, &option, text, this);
}

QAbstractSpinBox::StepEnabled TNaturalEdit::stepEnabled() const
{
    if (isReadOnly())
        return StepNone;
    const int value = Value();
    StepEnabled enabled = StepNone;
    if (value < m_maxValue)
        enabled |= StepUpEnabled;
    if (value > m_minValue)
        enabled |= StepDownEnabled;
    return enabled;
}

void TNaturalEdit::keyPressEvent(QKeyEvent *event)
{
    if (IsDroppedByDigitFilter(*event)) {
        event->accept();
        return;
    }
    QAbstractSpinBox::keyPressEvent(event);
}

TEditTrackingDelegate::TEditTrackingDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
{
    connect(this, &QAbstractItemDelegate::closeEditor, this, [this] { m_editing = false; });
}

QWidget *TEditTrackingDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                                             const QModelIndex &index) const
{
    m_editing = true;
    return QStyledItemDelegate::createEditor(parent, option, index);
}

TSortedTextItem::TSortedTextItem(const QString &text)
    : QListWidgetItem(text)
{
    setFlags(flags() | Qt::ItemIsEditable);
}

bool TSortedTextItem::operator<(const QListWidgetItem &other) const
{
    const int folded = text().compare(other.text(), Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : text() < other.text();
}

bool EditFirstSelectedRow(QListWidget *list)
{
    QList<QListWidgetItem *> selected = list->selectedItems();
    if (selected.isEmpty())
        return false;
    const auto first = std::min_element(
        selected.cbegin(), selected.cend(),
        [list](QListWidgetItem *a, QListWidgetItem *b) { return list->row(a) < list->row(b); });
    list->setFocus();
    list->setCurrentItem(*first, QItemSelectionModel::NoUpdate);
    list->editItem(*first);
    return true;
}

bool DeleteSelectedRows(QListWidget *list, QWidget *parent)
{
    const QList<QListWidgetItem *> selected = list->selectedItems();
    if (selected.isEmpty())
        return false;
    if (QMessageBox::question(parent, parent->window()->windowTitle(),
                              QStringLiteral("Remove selected?"),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        != QMessageBox::Yes)
        return false;
    int first = list->count();
    for (QListWidgetItem *item : selected)
        first = std::min(first, list->row(item));
    qDeleteAll(selected);
    if (list->count() > 0)
        list->setCurrentRow(std::min(first, list->count() - 1),
                            QItemSelectionModel::ClearAndSelect);
    list->setFocus();
    return true;
}

QDialogButtonBox *NewOkCancelButtons(QWidget *parent, QPushButton *&ok, QPushButton *&cancel,
                                     const char *okName, const char *cancelName)
{
    auto *box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, parent);
    ok = box->button(QDialogButtonBox::Ok);
    ok->setText(QStringLiteral("OK")); // no mnemonic: Enter and Esc are the keys
    ok->setObjectName(QString::fromLatin1(okName));
    ok->setDefault(true);
    cancel = box->button(QDialogButtonBox::Cancel);
    cancel->setText(QStringLiteral("Cancel"));
    cancel->setObjectName(QString::fromLatin1(cancelName));
    return box;
}

QPushButton *NewSideButton(QWidget *parent, const char *name, const QString &text)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

void ShowButtonFaceWhenDisabled(QWidget *edit)
{
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Disabled, QPalette::Base, palette.color(QPalette::Button));
    edit->setPalette(palette);
}

void PreviewKeys(QWidget *dialog)
{
    const QList<QWidget *> children = dialog->findChildren<QWidget *>();
    for (QWidget *child : children) {
        if (child->window() == dialog)
            child->installEventFilter(dialog);
    }
}

QCollator NameCollator()
{
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

QString DateTimeText(const QDateTime &date)
{
    if (!date.isValid())
        return {};
    const QLocale locale;
    // The long time format without its time-zone name: these times carry no zone.
    static const QString timeFormat
        = locale.timeFormat(QLocale::LongFormat).remove(QLatin1Char('t')).trimmed();
    QString text = locale.toString(date.date(), QLocale::ShortFormat);
    if (date.time() != QTime(0, 0))
        text += QLatin1Char(' ') + locale.toString(date.time(), timeFormat);
    return text;
}

QComboBox *NewEncryptionBox(QWidget *parent, const char *name)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->addItem(QStringLiteral("TLS when the server offers it"), QStringLiteral("auto"));
    box->addItem(QStringLiteral("TLS required"), QStringLiteral("require"));
    box->addItem(QStringLiteral("Implicit TLS (port 990)"), QStringLiteral("implicit"));
    box->addItem(QStringLiteral("Off (plain FTP)"), QStringLiteral("off"));
    return box;
}

void SetEncryption(QComboBox *box, const QString &mode)
{
    const int index = box->findData(mode);
    box->setCurrentIndex(index >= 0 ? index : box->findData(QStringLiteral("off")));
}

QString Encryption(const QComboBox *box)
{
    return box->currentData().toString();
}

bool AskTrustCertificate(const TCertificateInfo &certificate, const QString &scope, QWidget *parent)
{
    // An SSH host key comes with its fingerprint as ssh prints it; a Yes puts it in known_hosts,
    // where every SSH program finds it.
    const bool hostKey = certificate.Fingerprint.startsWith(QLatin1String("SHA256:"));
    QMessageBox box(
        QMessageBox::Warning, QStringLiteral("Zandrel"),
        hostKey ? QStringLiteral("The server's host key is unknown: it is not in "
                                 "~/.ssh/known_hosts. Trust it?")
                : QStringLiteral("The server's certificate does not verify. Trust it for %1?")
                      .arg(scope),
        QMessageBox::Yes | QMessageBox::No, parent);
    box.setObjectName(QStringLiteral("TrustCertificateBox"));
    box.setInformativeText(
        hostKey ? QStringLiteral("Server: %1\nKey type: %2\nSHA-256 fingerprint: %3\n\nTrust it "
                                 "only if you know this is your server's key (compare the "
                                 "fingerprint with the one your hosting provider gives). Yes "
                                 "adds it to ~/.ssh/known_hosts.")
                      .arg(certificate.Subject, certificate.Issuer, certificate.Fingerprint)
                : certificate.Details()
                      + QStringLiteral("\n\nTrust it only if you know this is your "
                                       "server's certificate (compare the fingerprint with "
                                       "the one your hosting provider gives)."));
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

bool SaveSettingsOrSay(TSettings &settings, QWidget *parent)
{
    try {
        settings.Save();
        return true;
    } catch (const EStoreError &error) {
        QMessageBox::critical(parent, QStringLiteral("Zandrel"), error.Message());
    }
    return false;
}

bool AskPlainLogin(const QString &text, QWidget *parent)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Zandrel"),
                    QStringLiteral("The server no longer offers TLS. Send the password in clear?"),
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setObjectName(QStringLiteral("PlainLoginBox"));
    box.setInformativeText(text
                           + QStringLiteral(".\n\nAnswer Yes only if you know your server "
                                            "stopped offering TLS; to connect without it for "
                                            "good, set Encryption to Off in the project's "
                                            "options."));
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}
