#pragma once

#include "engine/progressscale.h"

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace perrox {

class MessageSink;

// The window that shows a run's progress and lets the user cancel it. It is
// shown without being modal over the disabled main window, and it never
// closes except through unload() at the end of the run.
class ProgressWindow : public QDialog
{
    Q_OBJECT

public:
    ProgressWindow(QWidget *owner, MessageSink &messages);

    void Initialize(double dblMaxVal);
    void Update(double dblActVal);
    void setStatus1(const QString &text);
    void setStatus2(const QString &text);
    // The file the window shows is the number-th of files (from 1); its
    // result is not in place yet.
    void setFileNumber(int number, int files);
    // The result of the file the window shows is in place at path: a cancel
    // confirmed from now on says that this file was replaced.
    void setReplaced(const QString &path) { m_replaced = path; }
    // bCancelFlag: set when the user confirms the cancel question.
    bool cancelFlag() const { return m_cancelFlag; }
    // The only way this window closes.
    void unload();

    // The cancel question of the Cancel button and the close box.
    void askCancel();

    QLabel *status1() const { return m_status1; }
    QLabel *status2() const { return m_status2; }
    QLabel *counts() const { return m_counts; }
    QProgressBar *progressBar() const { return m_bar; }
    QPushButton *cancelButton() const { return m_cancel; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    void setStatus(QLabel *label, const QString &text);
    void showCounts();

    MessageSink &m_messages;
    QLabel *m_status1;
    QLabel *m_status2;
    QLabel *m_counts;
    QProgressBar *m_bar;
    QPushButton *m_cancel;
    ProgressScale m_scale;
    int m_number = 0;
    int m_files = 0;
    double m_position = 0;
    QString m_replaced;
    bool m_cancelFlag = false;
    bool m_unloading = false;
    bool m_asking = false;
};

// The cancel question.
QString CancelQuestion();

} // namespace perrox
