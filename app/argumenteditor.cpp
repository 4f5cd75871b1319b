#include "argumenteditor.h"

#include "app/windowdialogs.h"
#include "arguments/argumentlistview.h"
#include "arguments/argumentrow.h"
#include "arguments/notation.h"
#include "arguments/notationfield.h"
#include "base/messagesink.h"

#include <QCoreApplication>
#include <QLineEdit>

namespace perrox {

ArgumentEditor::ArgumentEditor(QWidget *client, double twipsPerPixel, Context context, QObject *parent)
    : QObject(parent)
    , m_context(std::move(context))
    , m_findField(new NotationField(NotationField::Find, client, twipsPerPixel, m_context.messages, this))
    , m_replaceField(new NotationField(NotationField::Replace, client, twipsPerPixel, m_context.messages, this))
    , m_list(new ArgumentListView(m_context.messages, client))
{
    connect(m_findField, &NotationField::rowDropped, this, &ArgumentEditor::edit);
    for (NotationField *field : {m_findField, m_replaceField}) {
        connect(field, &NotationField::validated, this, &ArgumentEditor::changed);
        connect(field->edit(), &QLineEdit::textChanged, this, &ArgumentEditor::changed);
    }
    m_list->setObjectName(QStringLiteral("lvwFind"));
    connect(m_list, &ArgumentListView::doubleClicked, this, &ArgumentEditor::add);
    connect(m_list, &ArgumentListView::deleteReleased, this, &ArgumentEditor::remove);
}

FindReplaceArguments ArgumentEditor::collect() const
{
    const FindReplaceArgument pending {m_findField->notation(), m_findField->edit()->text(), m_replaceField->notation(), m_replaceField->edit()->text(),
        m_findField->ignoresCase(), m_findField->matchesWholeWords()};
    return CollectArguments(pending, m_list->rows());
}

void ArgumentEditor::add()
{
    const Notation findNotation = m_findField->notation();
    const Notation replaceNotation = m_replaceField->notation();
    const QString findText = m_findField->edit()->text();
    const QString replaceText = m_replaceField->edit()->text();
    const bool findValid = ValidateArgument(findText, findNotation, m_context.messages);
    const bool replaceValid = ValidateArgument(replaceText, replaceNotation, m_context.messages);
    if (!findValid || findText.isEmpty() || !replaceValid) {
        m_context.messages.beep();
        return;
    }
    m_list->appendRow(
        {FindTypeText(findNotation, m_findField->ignoresCase(), m_findField->matchesWholeWords()), findText, Info(replaceNotation).code, replaceText});
    m_list->scrollToItem(m_list->topLevelItem(m_list->topLevelItemCount() - 1));
    if (!m_context.keepFields()) {
        m_findField->edit()->clear();
        m_replaceField->edit()->clear();
    }
}

void ArgumentEditor::edit()
{
    const int current = m_list->currentPosition();
    if (current < 0) {
        m_context.messages.beep();
        return;
    }
    const ArgumentRow row = m_list->takeRow(current);
    // An unknown type code changes no option.
    const FindReplaceArgument argument = ArgumentFromRow(row);
    if (NotationFromCode(row.findType.section(QLatin1Char(' '), 0, 0)))
        m_findField->selectNotation(argument.findNotation);
    if (NotationFromCode(row.replaceType))
        m_replaceField->selectNotation(argument.replaceNotation);
    m_findField->setMatching(argument.ignoreCase, argument.wholeWord);
    m_findField->edit()->setText(row.findText);
    m_replaceField->edit()->setText(row.replaceText);
    Q_EMIT changed();
}

void ArgumentEditor::remove()
{
    m_list->RemoveSelectedRows();
    Q_EMIT changed();
}

void ArgumentEditor::clear()
{
    m_list->ClearRows();
    Q_EMIT changed();
}

void ArgumentEditor::moveUp()
{
    m_list->MoveCurrentUp();
}

void ArgumentEditor::moveDown()
{
    m_list->MoveCurrentDown();
}

void ArgumentEditor::save()
{
    const QString path = m_context.dialogs.argumentFile(true);
    QCoreApplication::processEvents();
    if (!path.isEmpty() && SaveArgumentFile(path, collect(), m_context.tags, m_context.messages))
        m_context.fileUsed(path);
}

void ArgumentEditor::load(const QString &chosen)
{
    QString path = chosen;
    if (path.isEmpty()) {
        path = m_context.dialogs.argumentFile(false);
        QCoreApplication::processEvents();
        if (path.isEmpty())
            return;
    }
    const std::optional<FindReplaceArguments> loaded = LoadArgumentFile(path, m_context.tags, m_context.messages);
    if (!loaded)
        return;
    for (const FindReplaceArgument &argument : *loaded)
        m_list->appendRow(RowFromArgument(argument));
    m_context.fileUsed(path);
    Q_EMIT changed();
}

} // namespace perrox
