#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;
class QTabWidget;

namespace perrox {

struct FolderMasks;

// Options, the dialog captioned "Optionen": the four mask lists of a folder
// drop on the "General" tab. The fields are the working copy; Apply and OK
// write them, trimmed of spaces, to masks. Cancel, Escape and the close box
// keep what the last Apply wrote. Modal use: construct, exec().
class OptionsDialog : public QDialog
{
    Q_OBJECT

public:
    OptionsDialog(QWidget *owner, FolderMasks &masks);
    ~OptionsDialog() override;

    QTabWidget *tbsOptions() const { return m_tbsOptions; }
    QLineEdit *edIncludeDirectories() const { return m_edIncludeDirectories; }
    QLineEdit *edExcludeDirectories() const { return m_edExcludeDirectories; }
    QLineEdit *edIncludeFiles() const { return m_edIncludeFiles; }
    QLineEdit *edExcludeFiles() const { return m_edExcludeFiles; }
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
    void Form_Load();

    FolderMasks &m_masks;
    QTabWidget *m_tbsOptions = nullptr;
    QLineEdit *m_edIncludeDirectories = nullptr;
    QLineEdit *m_edExcludeDirectories = nullptr;
    QLineEdit *m_edIncludeFiles = nullptr;
    QLineEdit *m_edExcludeFiles = nullptr;
    QPushButton *m_cmdOK = nullptr;
    QPushButton *m_cmdCancel = nullptr;
    QPushButton *m_cmdApply = nullptr;
};

} // namespace perrox
