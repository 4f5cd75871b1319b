#include "app/preferences.h"

#include "arguments/notation.h"
#include "files/patternoptions.h"

#include <QScopeGuard>
#include <QSettings>
#include <QVariant>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace perrox {

namespace {

const QString KeyFindType = u"FindType"_s;
const QString KeyReplaceType = u"ReplaceType"_s;
const QString KeyAddDir = u"AddDir"_s;
const QString KeySaveAsDir = u"SaveAsDir"_s;
const QString KeyWindowState = u"WindowState"_s;
const QString KeyWindowLeft = u"WindowLeft"_s;
const QString KeyWindowTop = u"WindowTop"_s;
const QString KeyWindowWidth = u"WindowWidth"_s;
const QString KeyWindowHeight = u"WindowHeight"_s;
const QString KeyFindStartTag = u"FindStartTag"_s;
const QString KeyFindEndTag = u"FindEndTag"_s;
const QString KeyReplaceStartTag = u"ReplaceStartTag"_s;
const QString KeyReplaceEndTag = u"ReplaceEndTag"_s;
const QString KeyIncludeDirectories = u"IncludeDirectories"_s;
const QString KeyExcludeDirectories = u"ExcludeDirectories"_s;
const QString KeyIncludeFiles = u"IncludeFiles"_s;
const QString KeyExcludeFiles = u"ExcludeFiles"_s;
const QString KeyKeepJournal = UndoSectionName() + u"/KeepJournal"_s;
const QString KeyMaxRuns = UndoSectionName() + u"/MaxRuns"_s;
const QString KeyMaxMegabytes = UndoSectionName() + u"/MaxMegabytes"_s;
const QString KeyKeepTimes = ReplaceSectionName() + u"/KeepTimes"_s;
const QString KeyMaxMatch = ReplaceSectionName() + u"/MaxMatchKilobytes"_s;
const QString KeyAskFirst = ReplaceSectionName() + u"/AskFirst"_s;
const QString KeyArgumentListHeight = u"Window/ArgumentListHeight"_s;

QString RecentFileKey(int index)
{
    return u"RecentFile"_s + QString::number(index + 1);
}

// The stored text as a number rounded to the nearest whole one, when it is a
// decimal number (surrounding blanks allowed) within [low, high].
std::optional<double> ReadWholeNumber(PreferenceStore &store, const QString &key, double low, double high)
{
    const std::optional<QString> text = store.read(key);
    if (!text)
        return std::nullopt;
    bool ok = false;
    const double value = std::round(text->trimmed().toDouble(&ok));
    if (!ok || !std::isfinite(value) || value < low || value > high)
        return std::nullopt;
    return value + 0.0; // no negative zero
}

std::optional<qint16> ReadInt16(PreferenceStore &store, const QString &key)
{
    const auto value = ReadWholeNumber(store, key, std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max());
    if (!value)
        return std::nullopt;
    return static_cast<qint16>(*value);
}

// The notation stored under key as its number; Characters for any other text.
Notation ReadNotation(PreferenceStore &store, const QString &key)
{
    const std::optional<qint16> number = ReadInt16(store, key);
    return (number ? NotationFromNumber(*number) : std::nullopt).value_or(Notation::Characters);
}

int ReadInt(PreferenceStore &store, const QString &key, int low, int high, int fallback)
{
    return int(ReadWholeNumber(store, key, low, high).value_or(fallback));
}

std::optional<double> ReadBound(PreferenceStore &store, const QString &key)
{
    return ReadWholeNumber(store, key, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max());
}

QString ReadText(PreferenceStore &store, const QString &key)
{
    return store.read(key).value_or(QString());
}

// A tag may not be empty: an empty tag would match at every position of a
// loaded file.
QString ReadTag(PreferenceStore &store, const QString &key, const QString &fallback)
{
    const QString tag = ReadText(store, key);
    return tag.isEmpty() ? fallback : tag;
}

} // namespace

QString PreferencesApplicationName()
{
    return u"Perrox Revavod ozav azovi 1.2"_s;
}

QString PreferencesSectionName()
{
    return u"Preferences"_s;
}

QString UndoSectionName()
{
    return u"Undo"_s;
}

QString ReplaceSectionName()
{
    return u"Replace"_s;
}

// A key of another section is reached from the top level, and the settings go
// back to their group afterwards.
template<typename F> auto SettingsPreferenceStore::inSection(const QString &key, F use)
{
    const qsizetype slash = key.indexOf(u'/');
    if (slash < 0)
        return use(key);
    const QString group = m_settings.group();
    while (!m_settings.group().isEmpty())
        m_settings.endGroup();
    m_settings.beginGroup(key.left(slash));
    const auto restore = qScopeGuard([&] {
        m_settings.endGroup();
        m_settings.beginGroup(group);
    });
    return use(key.mid(slash + 1));
}

std::optional<QString> SettingsPreferenceStore::read(const QString &key)
{
    const QVariant value = inSection(key, [&](const QString &name) { return m_settings.value(name); });
    if (!value.isValid())
        return std::nullopt;
    if (value.metaType().id() == QMetaType::QStringList)
        return value.toStringList().join(u',');
    if (!value.canConvert<QString>())
        return std::nullopt;
    return value.toString();
}

void SettingsPreferenceStore::write(const QString &key, const QString &value)
{
    inSection(key, [&](const QString &name) { m_settings.setValue(name, value); });
}

std::unique_ptr<QSettings> OpenPreferences()
{
    // With the application name as the organisation and no application of
    // its own, QSettings keeps the file directly in the configuration folder.
    auto settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, PreferencesApplicationName());
    settings->beginGroup(PreferencesSectionName());
    return settings;
}

std::unique_ptr<QSettings> OpenPreferences(const QString &fileName)
{
    auto settings = std::make_unique<QSettings>(fileName, QSettings::NativeFormat);
    settings->beginGroup(PreferencesSectionName());
    return settings;
}

Preferences ReadPreferences(PreferenceStore &store)
{
    Preferences p;
    p.findType = ReadNotation(store, KeyFindType);
    p.replaceType = ReadNotation(store, KeyReplaceType);
    p.addDir = ReadText(store, KeyAddDir);
    p.saveAsDir = ReadText(store, KeySaveAsDir);

    p.placement.left = ReadBound(store, KeyWindowLeft);
    p.placement.top = ReadBound(store, KeyWindowTop);
    p.placement.width = ReadBound(store, KeyWindowWidth);
    p.placement.height = ReadBound(store, KeyWindowHeight);
    p.placement.state = ReadInt16(store, KeyWindowState);

    p.tags.findStartTag = ReadTag(store, KeyFindStartTag, DefaultFindStartTag());
    p.tags.findEndTag = ReadTag(store, KeyFindEndTag, DefaultFindEndTag());
    p.tags.replaceStartTag = ReadTag(store, KeyReplaceStartTag, DefaultReplaceStartTag());
    p.tags.replaceEndTag = ReadTag(store, KeyReplaceEndTag, DefaultReplaceEndTag());

    for (int i = 0; i < RecentFileCount; ++i)
        p.recentFiles[i] = ReadText(store, RecentFileKey(i));

    p.masks.includeDirectories = ReadText(store, KeyIncludeDirectories);
    p.masks.excludeDirectories = ReadText(store, KeyExcludeDirectories);
    p.masks.includeFiles = ReadText(store, KeyIncludeFiles);
    p.masks.excludeFiles = ReadText(store, KeyExcludeFiles);

    const UndoOptions defaults;
    p.undo.keepJournal = ReadInt(store, KeyKeepJournal, 0, 1, defaults.keepJournal);
    p.undo.maxRuns = ReadInt(store, KeyMaxRuns, 1, UndoOptions::MaxRunsLimit, defaults.maxRuns);
    p.undo.maxMegabytes = ReadInt(store, KeyMaxMegabytes, 1, UndoOptions::MaxMegabytesLimit, defaults.maxMegabytes);

    p.keepTimes = ReadInt(store, KeyKeepTimes, 0, 1, 0);
    p.maxMatchKiB = ReadInt(store, KeyMaxMatch, 1, kMaxMatchKiBLimit, kDefaultMaxMatchKiB);
    p.askFirst = ReadInt(store, KeyAskFirst, 0, 1, 1);
    p.argumentListHeight = ReadBound(store, KeyArgumentListHeight);
    return p;
}

Preferences ReadPreferences(QSettings &settings)
{
    SettingsPreferenceStore store(settings);
    return ReadPreferences(store);
}

void WritePreferences(PreferenceStore &store, const Preferences &p)
{
    store.write(KeyFindType, QString::number(Info(p.findType).number));
    store.write(KeyReplaceType, QString::number(Info(p.replaceType).number));
    store.write(KeyAddDir, p.addDir);
    store.write(KeySaveAsDir, p.saveAsDir);

    if (p.placement.state) {
        store.write(KeyWindowState, QString::number(*p.placement.state));
        if (*p.placement.state == PlacementNormal) {
            const std::pair<const QString &, const std::optional<double> &> bounds[] = {
                {KeyWindowLeft, p.placement.left},
                {KeyWindowTop, p.placement.top},
                {KeyWindowWidth, p.placement.width},
                {KeyWindowHeight, p.placement.height},
            };
            for (const auto &[key, value] : bounds) {
                if (value)
                    store.write(key, TwipsText(*value));
            }
        }
    }

    store.write(KeyFindStartTag, p.tags.findStartTag);
    store.write(KeyFindEndTag, p.tags.findEndTag);
    store.write(KeyReplaceStartTag, p.tags.replaceStartTag);
    store.write(KeyReplaceEndTag, p.tags.replaceEndTag);

    for (int i = 0; i < RecentFileCount; ++i)
        store.write(RecentFileKey(i), p.recentFiles[i]);

    store.write(KeyIncludeDirectories, p.masks.includeDirectories);
    store.write(KeyExcludeDirectories, p.masks.excludeDirectories);
    store.write(KeyIncludeFiles, p.masks.includeFiles);
    store.write(KeyExcludeFiles, p.masks.excludeFiles);

    store.write(KeyKeepJournal, QString::number(int(p.undo.keepJournal)));
    store.write(KeyMaxRuns, QString::number(p.undo.maxRuns));
    store.write(KeyMaxMegabytes, QString::number(p.undo.maxMegabytes));

    store.write(KeyKeepTimes, QString::number(int(p.keepTimes)));
    store.write(KeyMaxMatch, QString::number(p.maxMatchKiB));
    store.write(KeyAskFirst, QString::number(int(p.askFirst)));
    if (p.argumentListHeight)
        store.write(KeyArgumentListHeight, TwipsText(*p.argumentListHeight));
}

bool WritePreferences(QSettings &settings, const Preferences &preferences)
{
    SettingsPreferenceStore store(settings);
    WritePreferences(store, preferences);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

QString TwipsText(double twips)
{
    // Bounds are screen coordinates; anything beyond a billion twips is not one.
    constexpr double Limit = 1e9;
    const double bounded = std::isfinite(twips) ? std::clamp(twips, -Limit, Limit) : 0.0;
    const float value = static_cast<float>(bounded) + 0.0f; // no negative zero
    char buffer[64];
    // Fixed notation in the fewest digits that read back as the same float.
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (result.ec != std::errc())
        return QString::number(double(value), 'f', 0);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

} // namespace perrox
