#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// A program run to its end, as the package's tests run the tools a user has.
struct Run
{
    int exitCode = -1; // -1 when it crashed or did not end in time
    QString out;
    QString err; // or why it did not run
};

// Runs program in folder (the test's own when empty).
inline Run RunProgram(const QString &program, const QStringList &arguments, const QString &folder = {})
{
    QProcess process; // killed when still running at the end
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(300000);
    return {finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, QString::fromUtf8(process.readAllStandardOutput()),
        finished ? QString::fromUtf8(process.readAllStandardError()) : process.errorString()};
}
