#pragma once

#include "arguments/notation.h"

#include <QObject>
#include <QString>

#include <array>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QRadioButton;
class QWidget;

namespace perrox {

class MessageSink;

// The height of the two field frames, in twips.
inline constexpr int kFieldFrameHeight = 1320;

// One side of a Find&Replace argument in the main window: its frame with the
// edit field and an option for each row of kNotations. It keeps the side's notation
// (iFindType or iReplaceType), converts the text on every switch, filters
// typed characters by notation, and checks the text when the focus leaves the
// field.
class NotationField : public QObject
{
    Q_OBJECT

public:
    enum Side
    {
        Find, // frmFind "F&ind what" with edSearch and the options "opt" + type code + "1"
        Replace, // frmReplace "Re&place with" with edReplace and the options "opt" + type code + "2"
    };

    // Builds the side's frame in client, placed in twips of twipsPerPixel.
    NotationField(Side side, QWidget *client, double twipsPerPixel, MessageSink &messages, QObject *parent = nullptr);

    QGroupBox *frame() const { return m_frame; }
    Notation notation() const { return m_notation; }
    // Selects the option of a notation, running the switch on the present
    // text. Unlike a switch by the user it is never refused: a text whose
    // bytes the notation cannot write becomes the empty text.
    void selectNotation(Notation notation);
    QLineEdit *edit() const { return m_edit; }
    QString label() const { return m_label; }
    // The find side's "Match case" and "Whole word" boxes; null on the
    // replace side. Match case is off only where the notation can fold case.
    QCheckBox *matchCase() const { return m_matchCase; }
    QCheckBox *wholeWord() const { return m_wholeWord; }
    bool ignoresCase() const;
    bool matchesWholeWords() const;
    void setMatching(bool ignoreCase, bool wholeWord);

    // ValidateField: on an invalid token shows the field message, selects the
    // token in the field, gives the field the focus and returns false.
    bool validate();

Q_SIGNALS:
    // The focus left the field (checked or not): the window updates its commands.
    void validated();
    // Something was dropped onto the find field (whatever it was): the
    // window loads the argument list's current row into the fields.
    void rowDropped();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void optionToggled(Notation notation, bool checked);
    void updateMatching();
    void switchNotation(Notation notation);
    void swallowMouseUntilRelease();

    Side m_side;
    QGroupBox *m_frame;
    QLineEdit *m_edit;
    std::array<QRadioButton *, kNotationCount> m_options {}; // null where the side has no option
    QCheckBox *m_matchCase = nullptr;
    QCheckBox *m_wholeWord = nullptr;
    QString m_label;
    // bEditKey: set by each key press before its character is filtered. A Qt
    // key event carries the key and the character it types together, so the
    // flag needs no life beyond the event.
    bool m_editKey = false;
    MessageSink &m_messages;
    Notation m_notation = Notation::Characters;
    bool m_reverting = false;
    // Set while selectNotation runs: the program's switches are not refused.
    bool m_selecting = false;
};

// The key filter's rule for a typed character that is not an editing key; a
// wildcard is typed into a find only.
bool AcceptsTypedCharacter(const QString &character, Notation notation, NotationField::Side side = NotationField::Find);

} // namespace perrox
