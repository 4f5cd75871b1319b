#pragma once

#include "arguments/argumentfile.h"
#include "arguments/findreplaceargument.h"

#include <QObject>

#include <functional>

class QWidget;

namespace perrox {

class ArgumentListView;
class MessageSink;
class NotationField;
class WindowDialogs;

// The Find and Replace frames of the main window and the argument list
// lvwFind below them, with the commands that move arguments between the
// fields, the list and argument files.
class ArgumentEditor : public QObject
{
    Q_OBJECT

public:
    struct Context
    {
        MessageSink &messages;
        WindowDialogs &dialogs;
        // The tags argument files are written and read with.
        const ArgumentTags &tags;
        // True while Ctrl is held: Add then keeps the fields' texts.
        std::function<bool()> keepFields;
        // An argument file was saved or loaded (the recent files).
        std::function<void(const QString &path)> fileUsed;
    };

    ArgumentEditor(QWidget *client, double twipsPerPixel, Context context, QObject *parent);

    NotationField *findField() const { return m_findField; }
    NotationField *replaceField() const { return m_replaceField; }
    ArgumentListView *list() const { return m_list; }

    // The list's rows and then the fields' argument, as a run takes them.
    FindReplaceArguments collect() const;

    // The fields' argument becomes the list's last row; a beep when a side is
    // invalid or the find is empty.
    void add();
    // The list's current row goes back into the fields.
    void edit();
    void remove();
    void clear();
    void moveUp();
    void moveDown();
    void save();
    // Appends the arguments of the file at path, or of one chosen in the
    // dialog when path is empty.
    void load(const QString &path);

Q_SIGNALS:
    // The fields or the list changed: the window updates its commands.
    void changed();

private:
    Context m_context;
    NotationField *m_findField;
    NotationField *m_replaceField;
    ArgumentListView *m_list;
};

} // namespace perrox
