#pragma once

#include "app/preferences.h"

#include <QString>

#include <array>

namespace perrox {

// The recent argument files of the file menu: five entries, newest first
// (index 0 is IDM_FILE_FILE1, index 4 IDM_FILE_FILE5), and the separator
// IDM_FILE_SPACE3 after them. The window mirrors entry(i) and
// separatorVisible() into its menu after ShowRecentFiles and after every
// AddRecentFile; a click on entry i loads entry(i).path.
class RecentFiles
{
public:
    static constexpr int Count = RecentFileCount;

    struct Entry
    {
        QString caption = QStringLiteral("<empty>"); // the menu text
        QString path; // full path of the argument file; "" when not in use
        bool visible = false;

        friend bool operator==(const Entry &, const Entry &) = default;
    };

    // The paths of the five entries, as the preferences hold them. Sets the
    // paths only; call ShowRecentFiles once after it at start.
    void setPaths(const std::array<QString, Count> &paths);
    std::array<QString, Count> paths() const;

    // Every entry with a path gets GetFileName of it as its caption and
    // becomes visible, and so does the separator. Nothing is hidden.
    void ShowRecentFiles();

    // After a successful save or load of path (a full path, not empty): the
    // path goes to entry 0. An entry holding exactly the same path
    // (case-sensitive) is taken out of its place; without one, entry 4 drops
    // off. The entries in between move down one place.
    void AddRecentFile(const QString &path);

    const Entry &entry(int index) const { return m_entries.at(index); }
    bool separatorVisible() const { return m_separatorVisible; }

private:
    std::array<Entry, Count> m_entries;
    bool m_separatorVisible = false;
};

} // namespace perrox
