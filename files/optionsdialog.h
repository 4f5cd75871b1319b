#pragma once

#include <QDialog>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;

namespace perrox {

struct FolderMasks;
struct UndoOptions;

// Options, the dialog captioned "Optionen": the four mask lists of a folder
// drop, the journal kept for Undo, whether results keep the files'
// modification times, the longest match of a pattern and whether Replace
// asks before it writes, on the "General" tab. The controls are the working
// copy; Apply and OK write them to masks (trimmed of spaces), undo,
// keepTimes, maxMatchKiB and askFirst. Cancel, Escape and the close box keep what the last Apply wrote.
// Modal use: construct, exec().
class OptionsDialog : public QDialog
{
    Q_OBJECT

public:
    OptionsDialog(QWidget *owner, FolderMasks &masks, UndoOptions &undo, bool &keepTimes, int &maxMatchKiB, bool &askFirst);
    ~OptionsDialog() override;

    QTabWidget *tbsOptions() const { return m_tbsOptions; }
    QLineEdit *edIncludeDirectories() const { return m_edIncludeDirectories; }
    QLineEdit *edExcludeDirectories() const { return m_edExcludeDirectories; }
    QLineEdit *edIncludeFiles() const { return m_edIncludeFiles; }
    QLineEdit *edExcludeFiles() const { return m_edExcludeFiles; }
    // The limits are enabled while the check box is ticked.
    QCheckBox *chkKeepJournal() const { return m_chkKeepJournal; }
    QSpinBox *spnMaxRuns() const { return m_spnMaxRuns; }
    QSpinBox *spnMaxMegabytes() const { return m_spnMaxMegabytes; }
    QCheckBox *chkKeepTimes() const { return m_chkKeepTimes; }
    QSpinBox *spnMaxMatch() const { return m_spnMaxMatch; }
    QCheckBox *chkAskFirst() const { return m_chkAskFirst; }
    QPushButton *cmdOK() const { return m_cmdOK; }
    QPushButton *cmdCancel() const { return m_cmdCancel; }
    QPushButton *cmdApply() const { return m_cmdApply; }

    void cmdApply_Click();
    void cmdOK_Click();
    void cmdCancel_Click();
    // Ctrl+Tab: the next tab, wrapping from the last to the first.
    void SelectNextTab();

private:
    void createControls();
    QGroupBox *createUndoGroup(QWidget *page);
    void createButtons();
    void Form_Load();

    FolderMasks &m_masks;
    UndoOptions &m_undo;
    bool &m_keepTimes;
    int &m_maxMatchKiB;
    bool &m_askFirst;
    QTabWidget *m_tbsOptions = nullptr;
    QLineEdit *m_edIncludeDirectories = nullptr;
    QLineEdit *m_edExcludeDirectories = nullptr;
    QLineEdit *m_edIncludeFiles = nullptr;
    QLineEdit *m_edExcludeFiles = nullptr;
    QCheckBox *m_chkKeepJournal = nullptr;
    QWidget *m_fraLimits = nullptr;
    QSpinBox *m_spnMaxRuns = nullptr;
    QSpinBox *m_spnMaxMegabytes = nullptr;
    QCheckBox *m_chkKeepTimes = nullptr;
    QSpinBox *m_spnMaxMatch = nullptr;
    QCheckBox *m_chkAskFirst = nullptr;
    QPushButton *m_cmdOK = nullptr;
    QPushButton *m_cmdCancel = nullptr;
    QPushButton *m_cmdApply = nullptr;
};

} // namespace perrox
