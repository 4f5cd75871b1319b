#pragma once

#include "files/filedescriptor.h"

#include <QByteArray>
#include <QString>

namespace perrox {

// Where Perrox keeps its own state (the records of rewrites in place and the
// journal of runs): $XDG_STATE_HOME/perrox when XDG_STATE_HOME is an absolute
// path, else HOME/.local/state/perrox, with HOME from the environment or,
// where it is not set, from the password database. Empty when neither
// variable is set and the password database names no home that exists.
QString StateFolder();

// A folder of Perrox's own state is used only when nobody else can have put
// anything in it: a folder, not a link, belonging to the user running
// Perrox, that neither group nor others may write to. Whatever does not
// hold so is refused with the reason, never made right silently: what
// another user could have planted in it might be anywhere.
class PrivateFolder
{
public:
    // Opens the folder at path, or name in the folder open as base; with
    // create, a missing one is made (mode 0700, and its missing parents
    // too). False when it cannot be used: then reason() tells why, or it is
    // empty where the folder is simply not there (and create was false).
    bool open(const QString &path, bool create);
    bool openAt(int base, const QString &basePath, const QByteArray &name, bool create);

    int fd() const { return m_fd.get(); }
    FileDescriptor take() { return std::move(m_fd); }
    QString path() const { return m_path; }
    QString reason() const { return m_reason; }
    // "reason - path"; empty when it was not there.
    QString message() const;

private:
    bool check(int base, const QByteArray &name);

    FileDescriptor m_fd;
    QString m_path;
    QString m_reason;
};

// Why a run keeps no copies for Undo when StateFolder() is empty.
QString NoStateFolderMessage();

// The message shown at start when Perrox's own folder cannot be trusted:
// nothing is kept there and nothing is run from it.
QString UntrustedStateFolderMessage(const PrivateFolder &folder);

} // namespace perrox
