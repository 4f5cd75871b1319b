#include "batchoptions.h"

#include "app/filenames.h"
#include "arguments/notation.h"

#include <optional>

namespace perrox {

namespace {

const QLatin1String kFind("--find");
const QLatin1String kWith("--with");

// Options that take a value.
bool takesValue(const QString &name)
{
    static const QStringList names {QStringLiteral("--replace-as"), QStringLiteral("--prefix"), QStringLiteral("--suffix"), kFind, kWith};
    return names.contains(name);
}

} // namespace

void ParseSide(const QString &side, qint16 &notation, QString &text)
{
    static const struct
    {
        QLatin1String prefix;
        qint16 notation;
    } prefixes[] = {{QLatin1String("asc:"), Characters}, {QLatin1String("dec:"), Decimal}, {QLatin1String("hex:"), Hexadecimal}};
    for (const auto &p : prefixes) {
        if (side.startsWith(p.prefix, Qt::CaseInsensitive)) {
            notation = p.notation;
            text = side.mid(p.prefix.size());
            return;
        }
    }
    notation = Characters;
    text = side;
}

BatchParse ParseBatchArguments(const QStringList &arguments)
{
    BatchParse parse;
    BatchOptions &o = parse.options;
    std::optional<RunMode> mode;
    std::optional<FindReplaceArgument> pendingFind;

    auto setMode = [&](RunMode m) {
        if (mode && *mode != m) {
            parse.error = QStringLiteral("only one of --count, --replace and --replace-as may be given");
            return false;
        }
        mode = m;
        return true;
    };

    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size() && parse.ok(); ++i) {
        const QString &arg = arguments.at(i);
        if (optionsEnded || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            o.paths.append(arg);
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        QString name = arg;
        QString value;
        bool hasValue = false;
        if (const qsizetype eq = arg.indexOf(QLatin1Char('=')); arg.startsWith(QLatin1String("--")) && eq > 2) {
            name = arg.left(eq);
            value = arg.mid(eq + 1);
            hasValue = true;
        }
        if (takesValue(name)) {
            if (!hasValue) {
                if (i + 1 >= arguments.size()) {
                    parse.error = QStringLiteral("option '%1' requires an argument").arg(name);
                    break;
                }
                value = arguments.at(++i);
            }
        } else if (hasValue) {
            parse.error = QStringLiteral("option '%1' doesn't allow an argument").arg(name);
            break;
        }

        if (name == QLatin1String("--count")) {
            setMode(RunMode::Count);
        } else if (name == QLatin1String("--replace")) {
            setMode(RunMode::Replace);
        } else if (name == QLatin1String("--replace-as")) {
            if (setMode(RunMode::ReplaceAs))
                o.settings.outpath = value;
        } else if (name == QLatin1String("--prefix")) {
            o.settings.outprefix = value;
            RemoveInvalidChars(o.settings.outprefix);
        } else if (name == QLatin1String("--suffix")) {
            o.settings.outsuffix = value;
            RemoveInvalidChars(o.settings.outsuffix);
        } else if (name == QLatin1String("--overwrite")) {
            o.settings.outoverwrite = 1;
        } else if (name == kFind) {
            if (pendingFind) {
                parse.error = QStringLiteral("--find '%1' is not followed by --with").arg(pendingFind->findText);
                break;
            }
            FindReplaceArgument a;
            ParseSide(value, a.findNotation, a.findText);
            pendingFind = a;
        } else if (name == kWith) {
            if (!pendingFind) {
                parse.error = QStringLiteral("--with must follow a --find");
                break;
            }
            ParseSide(value, pendingFind->replaceNotation, pendingFind->replaceText);
            o.arguments.append(*pendingFind);
            pendingFind.reset();
        } else if (name == QLatin1String("--progress")) {
            o.progress = true;
        } else if (name == QLatin1String("--help")) {
            o.help = true;
        } else if (name == QLatin1String("--version")) {
            o.version = true;
        } else {
            parse.error = QStringLiteral("unrecognized option '%1'").arg(arg);
        }
    }
    if (!parse.ok() || o.help || o.version)
        return parse;
    if (pendingFind) {
        parse.error = QStringLiteral("--find '%1' is not followed by --with").arg(pendingFind->findText);
    } else if (o.arguments.isEmpty()) {
        parse.error = QStringLiteral("no --find/--with pair given");
    } else if (o.paths.isEmpty()) {
        parse.error = QStringLiteral("no file given");
    }
    o.mode = mode.value_or(RunMode::Count);
    return parse;
}

QString BatchUsage()
{
    return QStringLiteral("Usage: perrox-batch [--count | --replace | --replace-as FOLDER] [--prefix TEXT] [--suffix TEXT]\n"
                          "                    [--overwrite] (--find BYTES --with BYTES)... [--progress] [--] PATH...\n"
                          "Replace characters or any bytes in your files.\n"
                          "\n"
                          "Modes:\n"
                          "  --count              show per file how many occurrences would be replaced (default)\n"
                          "  --replace            rewrite every file that has occurrences\n"
                          "  --replace-as FOLDER  write the results to new files in FOLDER, named\n"
                          "                       PREFIX + base name + SUFFIX + extension\n"
                          "\n"
                          "Options:\n"
                          "  --find BYTES         bytes to find; each --find is followed by one --with\n"
                          "  --with BYTES         bytes to put in their place (empty deletes them)\n"
                          "  --prefix TEXT        text in front of each base name (Replace As)\n"
                          "  --suffix TEXT        text after each base name (Replace As)\n"
                          "  --overwrite          overwrite existing Replace As targets without asking\n"
                          "  --progress           draw a progress bar on standard error (a terminal)\n"
                          "  --help               display this help and exit\n"
                          "  --version            output version information and exit\n"
                          "\n"
                          "BYTES is asc:TEXT (characters, Windows-1252), dec:TEXT (decimal values 0-255)\n"
                          "or hex:TEXT (hexadecimal values 00-FF); without a prefix TEXT is characters.\n"
                          "Values are separated by spaces, commas or semicolons, e.g. hex:0D,0A.\n"
                          "Pairs are tried in the order given; at each position the first pair whose\n"
                          "find bytes match wins.\n"
                          "\n"
                          "For every processed file a line shows the count, right-aligned in 8\n"
                          "characters, two blanks and the path.\n"
                          "\n"
                          "Exit status: 0 every file processed, 1 a file failed, 2 usage or argument\n"
                          "error (no file touched), 3 stopped at a No to the overwrite question,\n"
                          "130 interrupted.\n");
}

} // namespace perrox
