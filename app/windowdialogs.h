#pragma once

#include <QStringList>

class QUrl;
class QWidget;

namespace perrox {

class MessageSink;
class ProgressWindow;
struct ReplaceAsSettings;

// Every file dialog, folder chooser and desktop hand-over of the main window
// goes through one WindowDialogs, as every message goes through a
// MessageSink: the window installs WidgetDialogs, tests one that answers from
// a script.
class WindowDialogs
{
public:
    virtual ~WindowDialogs() = default;

    // Add Files: the chosen full paths, empty when cancelled.
    virtual QStringList openFiles(const QString &startFolder) = 0;
    // Add Folder: the chosen folder, empty when cancelled.
    virtual QString chooseFolder(const QString &startFolder) = 0;
    // Save and Load Arguments: the chosen path, empty when cancelled.
    virtual QString argumentFile(bool save) = 0;
    // A file to write, offered as defaultName, its types named by filter
    // ("CSV files (*.csv)"): the chosen path, empty when cancelled.
    virtual QString saveFile(const QString &caption, const QString &defaultName, const QString &filter) = 0;
    // The Save As dialog of Replace As, showing the names the rows' files
    // would get. False when cancelled; true with settings holding the choice.
    virtual bool chooseReplaceAsTarget(ReplaceAsSettings &settings, const QStringList &paths) = 0;
    // Hands a file or web address to the desktop without waiting; false when
    // the desktop has no program to open it.
    virtual bool openUrl(const QUrl &url) = 0;
    // The progress window of a run has just been shown.
    virtual void runStarted(ProgressWindow *progress) { Q_UNUSED(progress); }
};

// The real dialogs, owned by parent, with their messages through messages.
class WidgetDialogs : public WindowDialogs
{
public:
    WidgetDialogs(QWidget *parent, MessageSink &messages)
        : m_parent(parent)
        , m_messages(messages)
    { }
    QStringList openFiles(const QString &startFolder) override;
    QString chooseFolder(const QString &startFolder) override;
    QString argumentFile(bool save) override;
    QString saveFile(const QString &caption, const QString &defaultName, const QString &filter) override;
    bool chooseReplaceAsTarget(ReplaceAsSettings &settings, const QStringList &paths) override;
    bool openUrl(const QUrl &url) override;

private:
    QWidget *m_parent;
    MessageSink &m_messages;
};

} // namespace perrox
