#include "notationfield.h"

#include "arguments/notation.h"
#include "base/messagesink.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>

namespace perrox {

bool AcceptsTypedCharacter(const QString &character, qint16 notation)
{
    static const QString kSeparators = QStringLiteral(",; ");
    switch (notation) {
    case Notation::Decimal:
        return IsCharInSet(character, QStringLiteral("0123456789")) || IsCharInSet(character, kSeparators);
    case Notation::Hexadecimal:
        return IsCharInSet(character, QStringLiteral("0123456789ABCDEFabcdef")) || IsCharInSet(character, kSeparators);
    default:
        return true;
    }
}

namespace {

// Eats the mouse press that moved the focus out of a field whose text failed
// its check, and the release that follows, so the clicked control does not act.
class MouseSwallower : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            return true;
        case QEvent::MouseButtonRelease:
            deleteLater();
            return true;
        default:
            return false;
        }
    }
};

} // namespace

NotationField::NotationField(
    QLineEdit *edit, const std::array<QRadioButton *, 3> &options, const QString &label, bool *editKey, MessageSink &messages, QObject *parent)
    : QObject(parent)
    , m_edit(edit)
    , m_options(options)
    , m_label(label)
    , m_editKey(editKey)
    , m_messages(messages)
{
    m_edit->installEventFilter(this);
    m_options[0]->setChecked(true);
    for (qint16 n = 0; n < 3; ++n) {
        // An option click keeps the focus where it is, so that the field's
        // check can refuse a switch of a text that is invalid while being typed.
        m_options[n]->setFocusPolicy(Qt::TabFocus);
        connect(m_options[n], &QRadioButton::toggled, this, [this, n](bool checked) { optionToggled(n, checked); });
    }
}

void NotationField::selectNotation(qint16 notation)
{
    if (notation < 0 || notation > 2)
        notation = Notation::Characters;
    if (m_options[notation]->isChecked())
        switchNotation(notation); // the switch runs even when the option was already selected
    else
        m_options[notation]->setChecked(true);
}

void NotationField::optionToggled(qint16 notation, bool checked)
{
    if (!checked || m_reverting)
        return;
    // A switch made while the user is in the field first checks the text.
    if (m_edit->hasFocus() && !validate()) {
        m_reverting = true;
        m_options[m_notation]->setChecked(true);
        m_reverting = false;
        return;
    }
    switchNotation(notation);
}

void NotationField::switchNotation(qint16 notation)
{
    if (!m_edit->text().isEmpty())
        m_edit->setText(ConvertNotation(m_edit->text(), m_notation, notation));
    m_notation = notation;
}

bool NotationField::validate()
{
    const std::optional<QString> token = FirstInvalidToken(m_edit->text(), m_notation);
    if (!token)
        return true;
    m_messages.warn(FieldMessage(m_label, *token, m_notation));
    const qsizetype at = m_edit->text().indexOf(*token);
    m_edit->setSelection(static_cast<int>(at), static_cast<int>(token->size()));
    m_edit->setFocus(Qt::OtherFocusReason);
    return false;
}

void NotationField::swallowMouseUntilRelease()
{
    if (QApplication::mouseButtons() != Qt::NoButton)
        qApp->installEventFilter(new MouseSwallower(qApp));
}

bool NotationField::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_edit)
        return false;
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        // Tab moves the focus; it never reaches the field as a character.
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)
            return false;
        const Qt::KeyboardModifiers mods = key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
        const bool clipboardKey = (key->key() == Qt::Key_X || key->key() == Qt::Key_C || key->key() == Qt::Key_V) && mods == Qt::ControlModifier;
        *m_editKey = key->key() == Qt::Key_Backspace || clipboardKey;
        // Delete, Insert, the arrows, Home, End and the page keys move or
        // edit without typing a character, whatever text the platform gives
        // them (X11 gives Delete the character 127).
        const bool typesNothing = key->key() >= Qt::Key_Insert && key->key() <= Qt::Key_PageDown;
        const QString text = key->text();
        if (text.isEmpty() || typesNothing || *m_editKey || AcceptsTypedCharacter(text, m_notation))
            return false;
        m_messages.beep();
        return true;
    }
    if (event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        // Only a move to another control of the window is checked, not a
        // switch to another window, a menu or a message box.
        if (reason == Qt::MouseFocusReason || reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason) {
            if (!validate()) {
                if (reason == Qt::MouseFocusReason)
                    swallowMouseUntilRelease();
                // The focus change under way ends after this handler; take the
                // focus back once it has.
                // The line edit drops its selection when it loses the focus, so
                // the token is selected again too.
                QTimer::singleShot(0, m_edit, [edit = m_edit, start = m_edit->selectionStart(), length = m_edit->selectionLength()] {
                    edit->setFocus(Qt::OtherFocusReason);
                    edit->setSelection(start, length);
                });
            }
            Q_EMIT validated();
        }
    }
    return false;
}

} // namespace perrox
