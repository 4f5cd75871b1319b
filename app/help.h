#pragma once

#include <QString>

#include <functional>

class QUrl;

namespace perrox {

class MessageSink;

// Hands a file or web address to the desktop (the editor for text files, the
// browser) and does not wait for it; false when the desktop has no program
// to open it.
using UrlOpener = std::function<bool(const QUrl &url)>;
// Opens url through open, or through QDesktopServices::openUrl when open is
// empty, and gives its outcome.
bool OpenUrl(const UrlOpener &open, const QUrl &url);

// The help file: "help.txt" in programFolder, by default the folder of the
// running program (QCoreApplication::applicationDirPath()).
QString HelpFilePath(const QString &programFolder = QString());

// The message for a help file missing at path, lines joined by "\r".
QString MissingHelpFileMessage(const QString &path);

// The message for a help file at path that the desktop could not open, lines
// joined by "\r".
QString UnopenedHelpFileMessage(const QString &path);

// IDM_HELP: opens the help file through OpenUrl, or tells through messages
// that it is missing or that no program could open it. Nothing else changes.
void ShowHelp(MessageSink &messages, const UrlOpener &open = {}, const QString &programFolder = QString());

} // namespace perrox
