#pragma once

#include "setupmessages.h"
#include "setupplatform.h"

#include <QPoint>
#include <QSize>

#include <memory>

class QLabel;

namespace setup {

// Message boxes with the warning or question icon.
class BoxMessages : public SetupMessages
{
public:
    Answer show(const QString &text, Icon icon, Buttons buttons, const QString &title) override;
};

// Hands a file to the desktop's "open" action (for a package, the desktop's
// package installer). EOPNOTSUPP when the desktop could not take it.
class DesktopOpener : public FileOpener
{
public:
    int open(const QString &path) override;
};

// The splash window: borderless, titled "Tarvel Setup", as large as the
// bitmap (empty and of size zero when it cannot be loaded), centred on the
// primary screen. Not yet shown.
std::unique_ptr<QLabel> CreateSplashWindow(const QString &bitmapPath);
// Top-left corner that centres a window on a screen; whole pixels, remainder dropped.
QPoint CentredPosition(const QSize &screen, const QSize &window);

// Shows the splash window, waits milliseconds doing nothing else, hides it.
class SplashWindow : public SplashScreen
{
public:
    explicit SplashWindow(int milliseconds = 2000)
        : m_milliseconds(milliseconds)
    { }
    void show(const QString &bitmapPath) override;

private:
    int m_milliseconds;
};

} // namespace setup
