#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace perrox {

// The numbers and paths of the records Perrox keeps for itself (the run
// journal, the records of rewrites in place) are read as if the records
// could hold anything: byte for byte, with no blank, sign or other
// character skipped, and every value checked against its range.

// The decimal number text spells, when it is nothing but the digits of a
// number in [min, max] (a "-" first where min < 0); nullopt otherwise.
std::optional<qint64> ParseDecimal(QByteArrayView text, qint64 min, qint64 max);

// The same in octal digits, for permission bits.
std::optional<qint64> ParseOctal(QByteArrayView text, qint64 max);

// A path as a record writes it: percent-encoded, absolute, every byte but
// "/" and unreserved characters escaped. nullopt for any text the writer
// could not have made (a raw blank or control byte, a broken escape) and
// for a path that holds a NUL byte or is not absolute.
std::optional<QByteArray> ParseRecordedPath(QByteArrayView text);
QByteArray RecordedPathText(const QByteArray &path);

// a + b for sizes, held at the largest qint64 instead of overflowing.
qint64 SaturatingAdd(qint64 a, qint64 b);

} // namespace perrox
