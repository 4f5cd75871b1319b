#include "batchinput.h"

#include "arguments/argumentfile.h"
#include "files/folderscan.h"

namespace perrox {

std::optional<FindReplaceArguments> CollectBatchArguments(const BatchOptions &options, MessageSink &messages)
{
    FindReplaceArguments all;
    qsizetype next = 0; // the next command-line pair to take
    for (const BatchOptions::ArgumentFile &file : options.argumentFiles) {
        for (; next < file.position && next < options.arguments.size(); ++next)
            all.append(options.arguments.at(next));
        const std::optional<FindReplaceArguments> loaded = LoadArgumentFile(file.path, ArgumentTags::defaults(), messages);
        if (!loaded)
            return std::nullopt;
        all.append(*loaded);
    }
    for (; next < options.arguments.size(); ++next)
        all.append(options.arguments.at(next));
    for (FindReplaceArgument &a : all) {
        a.ignoreCase = a.ignoreCase || options.ignoreCase;
        a.wholeWord = a.wholeWord || options.wholeWord;
    }
    return all;
}

QStringList ExpandPaths(const QStringList &paths, const FolderMasks &masks, const std::function<bool()> &stopRequested)
{
    class Collector : public FolderScanObserver
    {
    public:
        Collector(QStringList &files, const std::function<bool()> &stop)
            : m_files(files)
            , m_stop(stop)
        { }
        bool fileFound(const QString &path) override
        {
            m_files.append(path);
            return true;
        }
        bool stopRequested() override { return m_stop && m_stop(); }

    private:
        QStringList &m_files;
        const std::function<bool()> &m_stop;
    };

    QStringList files;
    Collector collector(files, stopRequested);
    ScanPaths(paths, masks, collector);
    return files;
}

} // namespace perrox
