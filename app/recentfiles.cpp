#include "app/recentfiles.h"

#include "files/filenames.h"

namespace perrox {

void RecentFiles::setPaths(const std::array<QString, Count> &paths)
{
    for (int i = 0; i < Count; ++i)
        m_entries[i].path = paths[i];
}

std::array<QString, RecentFiles::Count> RecentFiles::paths() const
{
    std::array<QString, Count> result;
    for (int i = 0; i < Count; ++i)
        result[i] = m_entries[i].path;
    return result;
}

void RecentFiles::ShowRecentFiles()
{
    for (Entry &entry : m_entries) {
        if (entry.path.isEmpty())
            continue;
        entry.caption = GetFileName(entry.path);
        entry.visible = true;
        m_separatorVisible = true;
    }
}

void RecentFiles::AddRecentFile(const QString &path)
{
    // The first entry holding the path is the slot; without one, the last.
    int slot = Count - 1;
    for (int k = Count - 1; k >= 0; --k) {
        if (m_entries[k].path == path)
            slot = k;
    }

    for (int k = slot; k >= 1; --k) {
        m_entries[k].caption = m_entries[k - 1].caption;
        m_entries[k].path = m_entries[k - 1].path;
        if (!m_entries[k].path.isEmpty())
            m_entries[k].visible = true;
    }

    m_entries[0].caption = GetFileName(path);
    m_entries[0].path = path;
    m_entries[0].visible = true;
    m_separatorVisible = true;
}

} // namespace perrox
