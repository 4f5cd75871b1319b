#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "batch/batchoptions.h"
#include "runprogram.h"

using namespace Qt::StringLiterals;

namespace {

QString ReadText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : u"<cannot read "_s + path + u'>';
}

QStringList Sorted(QStringList list)
{
    list.sort();
    list.removeDuplicates();
    return list;
}

// The options a text names, each with the name of the value written after it
// ("--replace-as FOLDER"), or "" where it never has one; "?" where it has two.
QMap<QString, QString> OptionsNamed(const QString &text)
{
    static const QRegularExpression option(u"(--[a-z][a-z-]*)(?: ([A-Z]+)\\b)?"_s);
    QMap<QString, QString> named;
    for (auto it = option.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        QString &value = named[m.captured(1)];
        if (value.isEmpty())
            value = m.captured(2);
        else if (!m.captured(2).isEmpty() && m.captured(2) != value)
            value = u"?"_s;
    }
    return named;
}

// The usage lines of a synopsis, without their markup and layout.
QString PlainSynopsis(QString text)
{
    static const QRegularExpression markup(u"\\\\f[BIR]|\\\\&|^\\.P$|^Usage: |^   or: "_s, QRegularExpression::MultilineOption);
    return text.remove(markup).simplified();
}

// Calls _perrox_batch as bash does for a completion, outside a terminal. $1 bash-completion's main script or "", $2 the completion file, $3 the line,
// $4 the cursor word's index, then the words. Prints COMPREPLY, one a line.
const QString kBashCompletion = uR"(bc=$1 file=$2 line=$3 cword=$4
shift 4
if [[ -n $bc ]]; then source "$bc" || exit 3; fi
source "$file" || exit 3
compopt() { :; }
COMP_WORDS=("$@") COMP_CWORD=$cword COMP_LINE=$line COMP_POINT=${#line}
_perrox_batch perrox-batch "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
printf '%s\n' "${COMPREPLY[@]}"
)"_s;

// Types a line into an interactive zsh on a pseudo terminal, presses Tab and prints what the completion system offered, one a line. $1 the folder of
// _perrox-batch, $2 the working folder, $3 the line.
const QString kZshCompletion = uR"(zmodload zsh/zpty || exit 3
compdir=$1 workdir=$2
zpty z zsh -f -i
zpty -w z "PS1= PROMPT= RPROMPT=; unsetopt auto_list; cd ${(q)workdir}; fpath=(${(q)compdir} \$fpath); autoload -Uz compinit; compinit -u -D"
zpty -w z 'compadd() { if [[ ${@[1,(i)(-|--)]} == *-(O|A|D)\ * ]]; then builtin compadd "$@"; return; fi; local -a hits; builtin compadd -A hits "$@"; local h; for h in $hits; do print -r -- "<<""C:$h>>" >&2; done; builtin compadd "$@"; }'
zpty -w z 'exec 2>&1; bindkey "^I" complete-word; comp-end() { print -r -- "<<E""ND>>"; BUFFER=; }; zle -N comp-end; bindkey "^X" comp-end'
zpty -w -n z "$3"$'\t\C-x'
zpty -r z out '*<<END>>*'
for c in ${(M)${(f)out//$'\r'/}:#*<<C:*>>*}; do c=${c#*<<C:}; print -r -- "${c%>>*}"; done
zpty -d z
)"_s;

const QString kBashCompletionMain = u"/usr/share/bash-completion/bash_completion"_s;

} // namespace

// The manual pages and the shell completion of perrox-batch, checked with the tools that read them, and against the table of options perrox-batch
// parses and lists in --help, so that an option added to the program without its page, completion and README fails here.
class TestDocs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // Every completion check runs on the installed files.
        const QString prefix = m_dir.filePath(u"prefix"_s);
        const Run install = RunProgram(QStringLiteral(PERROX_CMAKE),
            {u"-DCMAKE_INSTALL_PREFIX="_s + prefix, u"-P"_s, QStringLiteral(PERROX_PACKAGING_BINARY_DIR) + u"/cmake_install.cmake"_s});
        QVERIFY2(install.exitCode == 0, qPrintable(install.out + install.err));
        m_bashFile = prefix + u"/share/bash-completion/completions/perrox-batch"_s;
        m_zshFolder = prefix + u"/share/zsh/vendor-completions"_s;

        for (const perrox::BatchOption &option : perrox::BatchOptionTable())
            m_options.insert(QLatin1String(option.name), QLatin1String(option.value));

        m_work = m_dir.filePath(u"work"_s); // empty: completion offers no file
        QVERIFY(QDir().mkpath(m_work));
        QVERIFY2(QFile::exists(kBashCompletionMain), "bash-completion is not installed (tools/dev test installs it)");

        const Run zsh = RunProgram(u"zsh"_s, {u"-f"_s, u"-c"_s, kZshCompletion, u"zsh"_s, m_zshFolder, m_work, u"perrox-batch --"_s}, m_work);
        QVERIFY2(zsh.exitCode == 0, qPrintable(zsh.err));
        m_zsh = zsh.out.split(u'\n', Qt::SkipEmptyParts);
    }

    // The pages' footers name this version and a date. Their syntax, their
    // whatis entries and the packed files are lintian's to check (tst_package).
    void manPageFooters()
    {
        for (const QString &page : {u"perrox"_s, u"perrox-batch"_s}) {
            const QString roff = ReadText(QStringLiteral(PERROX_MAN_DIR) + u'/' + page + u".1"_s);
            const QRegularExpression th(u"^\\.TH \""_s + page + u"\" \"1\" \"\\d{4}-\\d\\d-\\d\\d\" \"Perrox "_s
                    + QRegularExpression::escape(QStringLiteral(PERROX_VERSION)) + u"\"$"_s,
                QRegularExpression::MultilineOption);
            QVERIFY2(th.match(roff).hasMatch(), qPrintable(roff.left(600)));
        }
    }

    // perrox-batch(1), the README, the bash and the zsh completion know exactly the options of the table, and the synopses of the page and the README
    // are the help's usage, which names every option that runs.
    void optionsAgree()
    {
        const QString roff = ReadText(QStringLiteral(PERROX_MAN_DIR) + u"/perrox-batch.1"_s);
        QMap<QString, QString> documented; // an option's entry: "\fB--replace-as\fR \fIFOLDER\fR" followed by ".RS 4"
        static const QRegularExpression item(
            u"^(?:\\\\fB-[a-z]\\\\fR, )?\\\\fB(--[a-z-]+)\\\\fR(?: \\\\fI([A-Z]+)\\\\fR)?\\n\\.RS 4$"_s, QRegularExpression::MultilineOption);
        for (auto it = item.globalMatch(roff); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            QVERIFY2(!documented.contains(m.captured(1)), qPrintable(m.captured(1)));
            documented.insert(m.captured(1), m.captured(2));
        }
        QCOMPARE(documented, m_options);

        // The usage names every option but --help and --version.
        const QString usage = PlainSynopsis(perrox::BatchUsage().section(u"\nReplace characters"_s, 0, 0));
        QCOMPARE(OptionsNamed(usage + u" --help --version"_s), m_options);
        QCOMPARE(PlainSynopsis(roff.section(u".SH SYNOPSIS\n"_s, 1).section(u"\n.SH "_s, 0, 0)), usage);

        // The README's section, split at its code blocks: the first is the synopsis; the text around the blocks names the options, the other blocks,
        // examples and their output, only use them.
        const QStringList readme
            = ReadText(QStringLiteral(PERROX_SOURCE_DIR) + u"/README.md"_s).section(u"\n## perrox-batch\n"_s, 1).section(u"\n## "_s, 0, 0).split(u"```"_s);
        QCOMPARE(PlainSynopsis(readme.value(1)), usage);
        QString text;
        for (qsizetype i = 0; i < readme.size(); i += 2)
            text += readme.at(i);
        QCOMPARE(OptionsNamed(readme.value(1) + text), m_options);

        QStringList bash = Sorted(bashCompletion({}, u"perrox-batch -"_s));
        QCOMPARE(bash, Sorted(m_options.keys()));

        QCOMPARE(Sorted(m_zsh), Sorted(m_options.keys())); // "perrox-batch --"
        // Its _arguments entries: "--format=[" takes a value, "--count[" none.
        QMap<QString, QString> declared;
        static const QRegularExpression zshOption(u"\"(?:\\([^)]*\\))?\\*?(--[a-z-]+)(=?)\\["_s);
        for (auto it = zshOption.globalMatch(ReadText(m_zshFolder + u"/_perrox-batch"_s)); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            declared.insert(m.captured(1), m_options.value(m.captured(1)).isEmpty() == m.captured(2).isEmpty() ? m_options.value(m.captured(1)) : u"?"_s);
        }
        QCOMPARE(declared, m_options);
    }

    // The bash completion knows which options take a value: after one the
    // next word is never an option, after any other it may be.
    void bashOptionValue_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<bool>("takesValue");
        for (auto it = m_options.cbegin(); it != m_options.cend(); ++it)
            QTest::newRow(qPrintable(it.key())) << it.key() << !it.value().isEmpty();
    }
    void bashOptionValue()
    {
        QFETCH(QString, option);
        QFETCH(bool, takesValue);
        for (const QString &bc : {QString(), kBashCompletionMain}) {
            QStringList offered = bashCompletion(bc, u"perrox-batch "_s + option + u" -"_s);
            offered.removeIf([&](const QString &word) { return !m_options.contains(word); });
            QCOMPARE(Sorted(offered), takesValue ? QStringList() : Sorted(m_options.keys()));
        }
    }

private:
    // COMPREPLY for line, the cursor at its end; bc is bash-completion's
    // main script, or empty for the completion file alone.
    QStringList bashCompletion(const QString &bc, const QString &line)
    {
        const QStringList words = line.split(u' ');
        const Run bash = RunProgram(u"bash"_s,
            QStringList {u"--norc"_s, u"--noprofile"_s, u"-c"_s, kBashCompletion, u"bash"_s, bc, m_bashFile, line, QString::number(words.size() - 1)} + words,
            m_work);
        if (bash.exitCode != 0 || !bash.err.isEmpty())
            return {u"<bash failed: "_s + bash.err + u'>'};
        return bash.out.split(u'\n', Qt::SkipEmptyParts);
    }

    QTemporaryDir m_dir;
    QString m_bashFile;
    QString m_zshFolder;
    QString m_work; // the working folder of the completion checks
    QMap<QString, QString> m_options; // of the table, each with its value's name or ""
    QStringList m_zsh; // what zsh offered for "perrox-batch --"
};

QTEST_GUILESS_MAIN(TestDocs)
#include "tst_docs.moc"
