#include "notationfield.h"

#include "arguments/notation.h"
#include "base/messagesink.h"
#include "base/twips.h"

#include <QApplication>
#include <QDropEvent>
#include <QFocusEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace perrox {

bool AcceptsTypedCharacter(const QString &character, Notation notation)
{
    const NotationInfo &n = Info(notation);
    if (n.keys.isEmpty())
        return !n.firstInvalid(character);
    return !character.isEmpty() && n.keys.contains(character.at(0));
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

NotationField::NotationField(Side side, QWidget *client, double twipsPerPixel, MessageSink &messages, QObject *parent)
    : QObject(parent)
    , m_side(side)
    , m_label(side == Find ? u"Find what"_s : u"Replace with"_s)
    , m_messages(messages)
{
    const auto px = [twipsPerPixel](double twips) { return TwipsToPixels(twips, twipsPerPixel); };
    setObjectName(side == Find ? u"findField"_s : u"replaceField"_s);
    m_frame = new QGroupBox(side == Find ? u"F&ind what"_s : u"Re&place with"_s, client);
    m_frame->setObjectName(side == Find ? u"frmFind"_s : u"frmReplace"_s);
    // The design's frames held three options. The fourth widened each frame
    // by 1170 twips, keeping the design's margin to the frame's right edge.
    m_frame->setGeometry(px(side == Find ? 60 : 4050), px(120), px(3945), px(1005));
    for (const NotationInfo &n : kNotations) {
        QRadioButton *option = m_options[Index(n.notation)] = new QRadioButton(side == Find ? n.findCaption : n.replaceCaption, m_frame);
        option->setObjectName(u"opt"_s + n.code + QString::number(side + 1)); // optAsc1 for Characters in the Find frame
        option->setToolTip(n.description);
        // Wide enough for its caption in the font at hand.
        option->setGeometry(px(n.optionLeft), px(315), std::max(px(n.optionWidth), option->sizeHint().width()), px(255));
        // An option click keeps the focus where it is, so that the field's
        // check can refuse a switch of a text that is invalid while being typed.
        option->setFocusPolicy(Qt::TabFocus);
        connect(option, &QRadioButton::toggled, this, [this, notation = n.notation](bool checked) { optionToggled(notation, checked); });
    }
    m_edit = new QLineEdit(m_frame);
    m_edit->setObjectName(side == Find ? u"edSearch"_s : u"edReplace"_s);
    m_edit->setGeometry(px(90), px(600), px(3780), px(285));
    m_edit->setAcceptDrops(side == Find);
    m_edit->installEventFilter(this);
    m_options[Index(m_notation)]->setChecked(true);
}

void NotationField::selectNotation(Notation notation)
{
    QRadioButton *option = m_options[Index(notation)];
    m_selecting = true;
    if (option->isChecked())
        switchNotation(notation); // the switch runs even when the option was already selected
    else
        option->setChecked(true);
    m_selecting = false;
}

void NotationField::optionToggled(Notation notation, bool checked)
{
    if (!checked || m_reverting)
        return;
    // A switch made while the user is in the field first checks the text; a
    // switch to a notation that cannot write the text's bytes is refused.
    bool refused = m_edit->hasFocus() && !validate();
    if (!refused && !m_selecting) {
        if (const QString refusal = ConversionRefusal(m_edit->text(), m_notation, notation); !refusal.isEmpty()) {
            m_messages.warn(refusal);
            refused = true;
        }
    }
    if (refused) {
        m_reverting = true;
        m_options[Index(m_notation)]->setChecked(true);
        m_reverting = false;
        return;
    }
    switchNotation(notation);
}

void NotationField::switchNotation(Notation notation)
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
    if (m_side == Find && (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove || event->type() == QEvent::Drop)) {
        auto *drop = static_cast<QDropEvent *>(event);
        if (event->type() != QEvent::Drop) {
            drop->acceptProposedAction();
            return true;
        }
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        Q_EMIT rowDropped();
        return true;
    }
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        // Tab moves the focus; it never reaches the field as a character.
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)
            return false;
        const Qt::KeyboardModifiers mods = key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
        const bool clipboardKey = (key->key() == Qt::Key_X || key->key() == Qt::Key_C || key->key() == Qt::Key_V) && mods == Qt::ControlModifier;
        m_editKey = key->key() == Qt::Key_Backspace || clipboardKey;
        // Delete, Insert, the arrows, Home, End and the page keys move or
        // edit without typing a character, whatever text the platform gives
        // them (X11 gives Delete the character 127).
        const bool typesNothing = key->key() >= Qt::Key_Insert && key->key() <= Qt::Key_PageDown;
        const QString text = key->text();
        if (text.isEmpty() || typesNothing || m_editKey || AcceptsTypedCharacter(text, m_notation))
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
