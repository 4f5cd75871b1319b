#include "optionsdialog.h"

#include "base/blanks.h"
#include "base/widgetsupport.h"
#include "files/foldermasks.h"
#include "files/patternoptions.h"
#include "files/undooptions.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace perrox {

OptionsDialog::OptionsDialog(QWidget *owner, FolderMasks &masks, UndoOptions &undo, bool &keepTimes, int &maxMatchKiB, bool &askFirst)
    : QDialog(owner, FixedDialogFlags())
    , m_masks(masks)
    , m_undo(undo)
    , m_keepTimes(keepTimes)
    , m_maxMatchKiB(maxMatchKiB)
    , m_askFirst(askFirst)
{
    SetUpFixedDialog(this, QStringLiteral("Options"), QStringLiteral("Optionen"), 5535, 3810);
    createControls();
    Form_Load();
}

OptionsDialog::~OptionsDialog() = default;

void OptionsDialog::createControls()
{
    m_tbsOptions = new QTabWidget(this);
    m_tbsOptions->setObjectName(QStringLiteral("tbsOptions"));
    SetGeometryTwips(m_tbsOptions, 120, 120, 5295, 3015);

    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("General"));
    auto *pageLayout = new QVBoxLayout(page);
    auto *frame = new QGroupBox(QStringLiteral("Drag and drop of folder"), page);
    frame->setObjectName(QStringLiteral("frmDragDrop"));
    pageLayout->addWidget(frame);
    auto *fields = new QVBoxLayout(frame);

    const auto addField = [&](const QString &name, const QString &caption) {
        auto *label = new QLabel(caption, frame);
        auto *field = new QLineEdit(frame);
        field->setObjectName(name);
        label->setBuddy(field);
        fields->addWidget(label);
        fields->addWidget(field);
        return field;
    };
    m_edIncludeDirectories = addField(QStringLiteral("edIncludeDirectories"), QStringLiteral("Search in &subfolders that match:"));
    m_edExcludeDirectories = addField(QStringLiteral("edExcludeDirectories"), QStringLiteral("Don't search in s&ubfolders that match:"));
    m_edIncludeFiles = addField(QStringLiteral("edIncludeFiles"), QStringLiteral("Add &files that match:"));
    m_edExcludeFiles = addField(QStringLiteral("edExcludeFiles"), QStringLiteral("Don't add f&iles that match:"));
    fields->addStretch();

    pageLayout->addWidget(createUndoGroup(page));

    // A line of its own below the groups.
    m_chkKeepTimes = new QCheckBox(QStringLiteral("Keep the files' modification &times"), page);
    m_chkKeepTimes->setObjectName(QStringLiteral("chkKeepTimes"));
    pageLayout->addWidget(m_chkKeepTimes);
    auto *matchLine = new QHBoxLayout;
    auto *matchLabel = new QLabel(QStringLiteral("Longest match of a &pattern (KiB):"), page);
    m_spnMaxMatch = new QSpinBox(page);
    m_spnMaxMatch->setObjectName(QStringLiteral("spnMaxMatch"));
    m_spnMaxMatch->setRange(1, kMaxMatchKiBLimit);
    matchLabel->setBuddy(m_spnMaxMatch);
    matchLine->addWidget(matchLabel);
    matchLine->addWidget(m_spnMaxMatch);
    matchLine->addStretch();
    pageLayout->addLayout(matchLine);
    m_chkAskFirst = new QCheckBox(QStringLiteral("&Ask before Replace and Replace As overwrite files"), page);
    m_chkAskFirst->setObjectName(QStringLiteral("chkAskFirst"));
    pageLayout->addWidget(m_chkAskFirst);
    m_tbsOptions->addTab(page, QStringLiteral("General"));

    createButtons();
    auto *nextTab = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), this);
    connect(nextTab, &QShortcut::activated, this, &OptionsDialog::SelectNextTab);

    // The controls keep their natural height: where the interface font
    // needs more room than drawn, the tab strip and the dialog grow and the
    // buttons move down.
    const int grow = m_tbsOptions->minimumSizeHint().height() - m_tbsOptions->height();
    if (grow > 0) {
        m_tbsOptions->resize(m_tbsOptions->width(), m_tbsOptions->height() + grow);
        for (QPushButton *button : {m_cmdOK, m_cmdCancel, m_cmdApply})
            button->move(button->x(), button->y() + grow);
        setFixedSize(width(), height() + grow);
    }
}

QGroupBox *OptionsDialog::createUndoGroup(QWidget *page)
{
    auto *undo = new QGroupBox(QStringLiteral("Undo"), page);
    undo->setObjectName(QStringLiteral("frmUndo"));
    auto *undoLayout = new QVBoxLayout(undo);
    m_chkKeepJournal = new QCheckBox(QStringLiteral("&Keep a journal to undo Replace"), undo);
    m_chkKeepJournal->setObjectName(QStringLiteral("chkKeepJournal"));
    undoLayout->addWidget(m_chkKeepJournal);
    // The limits sit on a frame of their own that the check box enables.
    m_fraLimits = new QWidget(undo);
    m_fraLimits->setObjectName(QStringLiteral("fraLimits"));
    undoLayout->addWidget(m_fraLimits);
    auto *limits = new QFormLayout(m_fraLimits);
    limits->setContentsMargins(0, 0, 0, 0);
    connect(m_chkKeepJournal, &QCheckBox::toggled, m_fraLimits, &QWidget::setEnabled);
    const auto addLimit = [&](const QString &name, const QString &caption, int maximum) {
        auto *spin = new QSpinBox(m_fraLimits);
        spin->setObjectName(name);
        spin->setRange(1, maximum);
        auto *label = new QLabel(caption, m_fraLimits);
        label->setBuddy(spin);
        limits->addRow(label, spin);
        return spin;
    };
    m_spnMaxRuns = addLimit(QStringLiteral("spnMaxRuns"), QStringLiteral("&Runs kept:"), UndoOptions::MaxRunsLimit);
    m_spnMaxMegabytes = addLimit(QStringLiteral("spnMaxMegabytes"), QStringLiteral("Space for kept &copies (MiB):"), UndoOptions::MaxMegabytesLimit);
    return undo;
}

void OptionsDialog::createButtons()
{
    m_cmdOK = new QPushButton(QStringLiteral("OK"), this);
    m_cmdOK->setObjectName(QStringLiteral("cmdOK"));
    SetGeometryTwips(m_cmdOK, 2040, 3300, 1035, 375);
    m_cmdOK->setDefault(true);
    connect(m_cmdOK, &QPushButton::clicked, this, &OptionsDialog::cmdOK_Click);

    m_cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    SetGeometryTwips(m_cmdCancel, 3210, 3300, 1035, 375);
    connect(m_cmdCancel, &QPushButton::clicked, this, &OptionsDialog::cmdCancel_Click);

    m_cmdApply = new QPushButton(QStringLiteral("Apply"), this);
    m_cmdApply->setObjectName(QStringLiteral("cmdApply"));
    SetGeometryTwips(m_cmdApply, 4380, 3300, 1035, 375);
    connect(m_cmdApply, &QPushButton::clicked, this, &OptionsDialog::cmdApply_Click);
}

void OptionsDialog::Form_Load()
{
    // Centred on the screen, not on the owner.
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
    m_edIncludeDirectories->setText(m_masks.includeDirectories);
    m_edExcludeDirectories->setText(m_masks.excludeDirectories);
    m_edIncludeFiles->setText(m_masks.includeFiles);
    m_edExcludeFiles->setText(m_masks.excludeFiles);
    m_chkKeepJournal->setChecked(m_undo.keepJournal);
    m_fraLimits->setEnabled(m_undo.keepJournal);
    m_spnMaxRuns->setValue(m_undo.maxRuns);
    m_spnMaxMegabytes->setValue(m_undo.maxMegabytes);
    m_chkKeepTimes->setChecked(m_keepTimes);
    m_spnMaxMatch->setValue(m_maxMatchKiB);
    m_chkAskFirst->setChecked(m_askFirst);
}

void OptionsDialog::cmdApply_Click()
{
    m_masks.excludeDirectories = TrimBlanks(m_edExcludeDirectories->text());
    m_masks.includeDirectories = TrimBlanks(m_edIncludeDirectories->text());
    m_masks.excludeFiles = TrimBlanks(m_edExcludeFiles->text());
    m_masks.includeFiles = TrimBlanks(m_edIncludeFiles->text());
    m_undo = {m_chkKeepJournal->isChecked(), m_spnMaxRuns->value(), m_spnMaxMegabytes->value()};
    m_keepTimes = m_chkKeepTimes->isChecked();
    m_maxMatchKiB = m_spnMaxMatch->value();
    m_askFirst = m_chkAskFirst->isChecked();
}

void OptionsDialog::cmdOK_Click()
{
    cmdApply_Click();
    accept();
}

void OptionsDialog::cmdCancel_Click()
{
    reject();
}

void OptionsDialog::SelectNextTab()
{
    const int count = m_tbsOptions->count();
    if (count > 0)
        m_tbsOptions->setCurrentIndex((m_tbsOptions->currentIndex() + 1) % count);
}

} // namespace perrox
