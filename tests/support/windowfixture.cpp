#include "windowfixture.h"

#include "arguments/notation.h"

#include <QDragEnterEvent>
#include <QMimeData>
#include <QTest>

namespace perrox::test {

bool ScriptedDialogs::chooseReplaceAsTarget(ReplaceAsSettings &settings, const QStringList &paths)
{
    asked << u"target %1"_s.arg(paths.size());
    if (target)
        settings = *target;
    return target.has_value();
}

WindowFixture::WindowFixture(const QString &preferencesFile, bool show)
    : w(std::make_unique<MainWindow>(&sink, preferencesFile, &dialogs))
{
    if (show) {
        w->show();
        if (QTest::qWaitForWindowExposed(w.get()))
            w->activateWindow(), (void)QTest::qWaitForWindowActive(w.get());
    }
}

QRadioButton *WindowFixture::option(int side, int notation) const
{
    return child<QRadioButton>(u"opt"_s + TypeCode(qint16(notation)) + QString::number(side + 1));
}

void WindowFixture::addFiles(const QStringList &paths)
{
    dialogs.files = paths;
    trigger(u"IDM_ADD"_s);
}

void WindowFixture::drop(const QList<QUrl> &urls) const
{
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(files()->viewport(), &enter);
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(files()->viewport(), &drop);
}

void WindowFixture::addRow(const QString &findType, const QString &find, const QString &replaceType, const QString &replace) const
{
    args()->appendRow({findType, find, replaceType, replace});
}

void WindowFixture::setCurrentRow(int row) const
{
    args()->clearSelection();
    args()->setCurrentItem(args()->topLevelItem(row));
}

void WindowFixture::pending(const QString &find, const QString &replace) const
{
    edSearch()->setText(find);
    edReplace()->setText(replace);
}

QStringList WindowFixture::paths() const
{
    QStringList list;
    for (int i = 0; i < files()->topLevelItemCount(); ++i)
        list << files()->path(i);
    return list;
}

QStringList WindowFixture::findTexts() const
{
    QStringList texts;
    for (const ArgumentRow &row : args()->rows())
        texts << row.findText;
    return texts;
}

QList<int> WindowFixture::selectedFiles() const
{
    QList<int> rows;
    for (int i = 0; i < files()->topLevelItemCount(); ++i)
        if (files()->topLevelItem(i)->isSelected())
            rows << i;
    return rows;
}

} // namespace perrox::test
