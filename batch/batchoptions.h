#pragma once

#include "arguments/findreplaceargument.h"
#include "engine/processfiles.h"

#include <QStringList>

namespace perrox {

// What perrox-batch was asked to do.
struct BatchOptions
{
    RunMode mode = RunMode::Count;
    ReplaceAsSettings settings;
    FindReplaceArguments arguments; // in command-line order
    QStringList paths;
    bool progress = false;
    bool help = false;
    bool version = false;
};

struct BatchParse
{
    BatchOptions options;
    QString error; // empty when the command line is usable
    bool ok() const { return error.isEmpty(); }
};

// A side of a pair: "asc:TEXT", "dec:TEXT", "hex:TEXT" (prefix in any case),
// anything else is a Characters text as it stands.
void ParseSide(const QString &side, qint16 &notation, QString &text);

// Parses the arguments after the program name. Options may be written
// "--name VALUE" or "--name=VALUE"; "--" ends the options.
BatchParse ParseBatchArguments(const QStringList &arguments);

// The --help text.
QString BatchUsage();

} // namespace perrox
