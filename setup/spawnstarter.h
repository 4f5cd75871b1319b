#pragma once

#include "setupplatform.h"

namespace setup {

// Starts programs with posix_spawnp, which reports the errno of a program
// that cannot be started. A program name without "/" is looked up in PATH.
class SpawnStarter : public ProgramStarter
{
public:
    int runAndWait(const QString &program, const QStringList &arguments) override;
    int start(const QString &program) override;
};

} // namespace setup
