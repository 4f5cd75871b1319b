#include "notationfield.h"

#include "arguments/notation.h"
#include "base/messagesink.h"
#include "base/twips.h"

#include <QApplication>
#include <QCheckBox>
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

bool AcceptsTypedCharacter(const QString &character, Notation notation, NotationField::Side side)
{
    const NotationInfo &n = Info(notation);
    if (n.pattern) // a pattern is checked whole, never by the character
        return !character.isEmpty();
    if (n.keys.isEmpty())
        return !n.firstInvalid(character);
    if (side == NotationField::Replace && character.startsWith(u'?'))
        return false;
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
    // by 1170 twips, keeping the design's margin to the frame's right edge;
    // the row below the field (the Regex option and the find's matching
    // boxes) made both 315 twips taller.
    m_frame->setGeometry(px(side == Find ? 60 : 4050), px(120), px(3945), px(kFieldFrameHeight));
    for (const NotationInfo &n : kNotations) {
        const QLatin1StringView caption = side == Find ? n.findCaption : n.replaceCaption;
        if (caption.isEmpty())
            continue;
        QRadioButton *option = m_options[Index(n.notation)] = new QRadioButton(caption, m_frame);
        option->setObjectName(u"opt"_s + n.code + QString::number(side + 1)); // optAsc1 for Characters in the Find frame
        option->setToolTip(n.description);
        // Wide enough for its caption in the font at hand.
        option->setGeometry(px(n.optionLeft), px(n.optionTop), std::max(px(n.optionWidth), option->sizeHint().width()), px(255));
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
    if (side == Find) {
        const auto box = [&](const QString &name, const QString &caption, const QString &tip, double left, double width, bool checked) {
            auto *b = new QCheckBox(caption, m_frame);
            b->setObjectName(name);
            b->setToolTip(tip);
            b->setChecked(checked);
            b->setGeometry(px(left), px(945), std::max(px(width), b->sizeHint().width()), px(255));
            return b;
        };
        m_matchCase = box(u"chkMatchCase"_s, u"Match &case"_s, u"Off: letters match in either case (text only, never bytes)"_s, 1050, 1275, true);
        m_wholeWord = box(
            u"chkWholeWord"_s, u"&Whole word"_s, u"Match only where no letter, digit, '_' or byte from 80 hex on stands before or after"_s, 2460, 1275, false);
    }
    m_options[Index(m_notation)]->setChecked(true);
    updateMatching();
}

bool NotationField::ignoresCase() const
{
    return m_matchCase && m_matchCase->isEnabled() && !m_matchCase->isChecked();
}

bool NotationField::matchesWholeWords() const
{
    return m_wholeWord && m_wholeWord->isChecked();
}

void NotationField::setMatching(bool ignoreCase, bool wholeWord)
{
    if (!m_matchCase)
        return;
    m_matchCase->setChecked(!ignoreCase);
    m_wholeWord->setChecked(wholeWord);
}

void NotationField::updateMatching()
{
    if (m_matchCase)
        m_matchCase->setEnabled(CanFoldCase(m_notation));
}

void NotationField::selectNotation(Notation notation)
{
    if (!m_options[Index(notation)])
        notation = Notation::Characters; // a notation this side does not take
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
    updateMatching();
}

bool NotationField::validate()
{
    const QString text = m_edit->text();
    std::optional<QString> token = FirstInvalidToken(text, m_notation);
    InvalidPart part = token ? InvalidPartOf(text, m_notation) : InvalidPart {};
    const QLatin1StringView wildcard = Info(m_notation).wildcard;
    if (!token && m_side == Replace && !wildcard.isEmpty() && ToByteSequence(text, m_notation).hasWildcard()) {
        token = QString(wildcard); // a replacement holds bytes, never "any byte"
        part = {text.indexOf(*token), wildcard.size()};
    }
    if (!token)
        return true;
    m_messages.warn(FieldMessage(m_label, *token, m_notation));
    m_edit->setSelection(static_cast<int>(part.offset), static_cast<int>(part.length));
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
        if (text.isEmpty() || typesNothing || m_editKey || AcceptsTypedCharacter(text, m_notation, m_side))
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
