#pragma once

#include <QAbstractSpinBox>
#include <QString>
#include <QStyledItemDelegate>

#include <functional>

class QKeyEvent;

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
