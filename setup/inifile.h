#pragma once

#include <QHash>
#include <QString>

namespace setup {

// The keys of an INI file (sections in square brackets, key=value lines),
// parsed by libinih. Section and key names match without regard to case; when
// a key appears twice in a section the first one counts. A value in matching
// quotes loses them. Values are cut to
// MaxValueLength characters. Lines longer than libinih's fixed line buffer are
// handed to it in a short form, so their values arrive whole.
class IniFile
{
public:
    static constexpr int MaxValueLength = 511;

    // Reads the file at path; a file that cannot be read has no keys, so
    // every key gives its default.
    explicit IniFile(const QString &path);

    // The key's value, or defaultValue when the key is absent. A key that is
    // present with nothing after "=" gives the empty text, not the default.
    QString value(const QString &section, const QString &key, const QString &defaultValue = QString()) const;

private:
    QHash<QString, QString> m_values; // by lower-case "section\nkey"
};

} // namespace setup
