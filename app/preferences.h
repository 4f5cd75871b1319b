#pragma once

#include "app/placement.h"
#include "arguments/argumentfile.h"
#include "files/foldermasks.h"
#include "files/patternoptions.h"
#include "files/undooptions.h"

#include <QString>

#include <array>
#include <memory>
#include <optional>

class QSettings;

namespace perrox {

// The per-user preferences: the 22 keys of the section "Preferences", the
// 3 of the section "Undo" and the 3 of the section "Replace", read once when
// the main window loads and written once when it closes.

// Application name and section of the store.
QString PreferencesApplicationName(); // "Perrox Revavod ozav azovi 1.2"
QString PreferencesSectionName(); // "Preferences"
QString UndoSectionName(); // "Undo"
QString ReplaceSectionName(); // "Replace"

inline constexpr int RecentFileCount = 5;

// Every preference, with the value of a first run.
struct Preferences
{
    // "FindType", "ReplaceType": the notation of each side, stored as its
    // number in kNotations. Reading gives Characters for any other number.
    Notation findType = Notation::Characters;
    Notation replaceType = Notation::Characters;
    // "AddDir": the folder the Add Files dialog opens in.
    QString addDir;
    // "SaveAsDir": the Replace As target folder (outpath).
    QString saveAsDir;
    // "WindowState", "WindowLeft", "WindowTop", "WindowWidth", "WindowHeight",
    // twips. Reading fills what the store holds (feed it to
    // RestoreWindowPlacement); before writing, set it from
    // SaveWindowPlacement. Writing stores the state when it is set, and the
    // bounds that are set only when the state is 0 (normal).
    StoredPlacement placement;
    // "FindStartTag", "FindEndTag", "ReplaceStartTag", "ReplaceEndTag": never
    // empty; an empty stored tag reads as its default.
    ArgumentTags tags = ArgumentTags::defaults();
    // "RecentFile1" to "RecentFile5": the paths of the recent-file entries,
    // newest first, "" for an entry not in use.
    std::array<QString, RecentFileCount> recentFiles;
    // "IncludeDirectories", "ExcludeDirectories", "IncludeFiles",
    // "ExcludeFiles": the folder-scan mask lists, masks separated by ";".
    FolderMasks masks;
    // Section "Undo": "KeepJournal" (1 or 0), "MaxRuns" (1 to 1000),
    // "MaxMegabytes" (1 to 1048576). Reading gives the default for a number
    // outside its range.
    UndoOptions undo;
    // Section "Replace": "KeepTimes" (1 or 0): Replace and Replace As give each
    // result the modification and access times of its source. Reading gives
    // 0 for anything else.
    bool keepTimes = false;
    // "MaxMatchKilobytes" (1 to 1048576): the longest match of a pattern, in
    // KiB; anything else reads as 1024.
    int maxMatchKiB = kDefaultMaxMatchKiB;
    // "AskFirst" (1 or 0): Replace, and Replace As where it overwrites
    // without asking per file, ask once before they start; anything else
    // reads as 1.
    bool askFirst = true;

    // Section "Window": "ArgumentListHeight", twips: the argument list's
    // height as the boundary above the file list was left; written when set.
    std::optional<double> argumentListHeight;

    friend bool operator==(const Preferences &, const Preferences &) = default;
};

// Where preferences are kept: text values by key, inside the section
// "Preferences"; a key "Section/Name" is the key Name of another section.
class PreferenceStore
{
public:
    virtual ~PreferenceStore() = default;
    // The text stored under key, or nothing when the key is absent.
    virtual std::optional<QString> read(const QString &key) = 0;
    virtual void write(const QString &key, const QString &value) = 0;
};

// A store over QSettings, with keys relative to the settings' current group,
// and "Section/Name" relative to the top level.
// A value QSettings parses as a list (a hand-edited line with commas outside
// quotes) reads as its items joined by ","; a value that is no text at all
// (such as "@Invalid()") counts as absent.
class SettingsPreferenceStore : public PreferenceStore
{
public:
    explicit SettingsPreferenceStore(QSettings &settings)
        : m_settings(settings)
    { }
    std::optional<QString> read(const QString &key) override;
    void write(const QString &key, const QString &value) override;

private:
    template<typename F> auto inSection(const QString &key, F use);
    QSettings &m_settings;
};

// The user's store: QSettings in the native format, user scope, under the
// application name, already inside the group "Preferences". On Linux that is
// the file "Perrox Revavod ozav azovi 1.2.conf" in $XDG_CONFIG_HOME (else
// ~/.config). The file is replaced as a whole when written, never left half
// written.
std::unique_ptr<QSettings> OpenPreferences();
// The same store kept in the file fileName instead (tests use a temporary one).
std::unique_ptr<QSettings> OpenPreferences(const QString &fileName);

// Reads every key, in this order: FindType, ReplaceType, AddDir, SaveAsDir,
// WindowLeft, WindowTop, WindowWidth, WindowHeight, WindowState, the four
// tags (find start, find end, replace start, replace end), RecentFile1 to
// RecentFile5, IncludeDirectories, ExcludeDirectories, IncludeFiles,
// ExcludeFiles, then Undo/KeepJournal, Undo/MaxRuns, Undo/MaxMegabytes,
// Replace/KeepTimes, Replace/MaxMatchKilobytes, Replace/AskFirst. An
// absent key gives the default of Preferences; so does a numeric key whose
// text is not a number in the key's range (16 bits for the notations and the
// state, 32 bits for the bounds, which are rounded to whole twips, and the
// ranges of UndoOptions). Texts are taken exactly as stored.
Preferences ReadPreferences(PreferenceStore &store);
Preferences ReadPreferences(QSettings &settings);

// Writes every key, in this order: FindType, ReplaceType, AddDir, SaveAsDir,
// WindowState, then (only when the state is 0) WindowLeft, WindowTop,
// WindowWidth, WindowHeight, then the tags, the recent files and the masks in
// the order of ReadPreferences, then the three keys of the section Undo and
// last the keys of the section Replace.
// Numbers are written as plain decimal text: "0", "2"; a bound in the
// shortest form of a single-precision number, with a decimal point only when
// it has a fraction ("7215", "1309.091").
void WritePreferences(PreferenceStore &store, const Preferences &preferences);
// Writes through QSettings and flushes the file; false when the file could not
// be written (the previous file then stays as it was).
bool WritePreferences(QSettings &settings, const Preferences &preferences);

// The plain decimal text of a bound, as WritePreferences stores it.
QString TwipsText(double twips);

} // namespace perrox
