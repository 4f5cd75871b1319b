#pragma once

#include "findpattern.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

#ifndef PCRE2_CODE_UNIT_WIDTH
#define PCRE2_CODE_UNIT_WIDTH 8
#endif
#include <pcre2.h>

namespace perrox {

// A compiled PCRE2 pattern, shared and never changed once made. It is made
// for the JIT where the library has one (for complete and for hard partial
// matching), and matched by the interpreter otherwise.
class RegexCode
{
public:
    RegexCode() = default;

    bool isNull() const { return !m_code; }
    const pcre2_code *code() const { return m_code.get(); }
    // Capturing groups, not counting the whole match.
    int captureCount() const;
    // The longest single lookbehind, in characters.
    qint64 maxLookbehind() const;
    // The least number of bytes a match can take, as PCRE2 works it out (a
    // lower bound; 0 when a match can be empty, or when it could not tell).
    qint64 minLength() const;
    // The number of the group of that name (the first, where names repeat);
    // -1 when there is none.
    int groupNumber(const QByteArray &name) const;
    // Whether it works on UTF-8 characters ((*UTF)).
    bool utf() const;

    struct Result;
    // Compiles text (UTF-8 bytes) with PCRE2 options.
    static Result compile(const QByteArray &text, uint32_t options);

private:
    std::shared_ptr<pcre2_code> m_code;
};

struct RegexCode::Result
{
    RegexCode code;
    QString error; // PCRE2's message; empty when it compiled
    qsizetype offset = -1; // where in the text, in characters
};

// The regular expression of a Regex find, compiled as the engine matches it:
// over bytes (a character beyond ASCII in the text stands for its UTF-8
// bytes), or over UTF-8 characters when the text starts with (*UTF), where
// bytes that are no valid UTF-8 simply do not match. caseless and wholeWord
// come from the find. The error of a text that fails refers to the text as
// typed, never to what wholeWord adds around it.
RegexCode::Result CompileFindRegex(const FindPattern &find);

// Whether the regular expression of a Regex find can match an empty
// sequence somewhere; it errs only towards yes.
bool CanMatchEmpty(const FindPattern &find);

// One piece of a replacement template: literal bytes, or a group's match.
struct TemplatePart
{
    QByteArray literal;
    int group = -1; // -1: the literal
};

struct TemplateParse
{
    std::vector<TemplatePart> parts;
    QString error; // empty when the template is valid
    qsizetype offset = -1; // in characters of the template's text
};

// Reads a replacement template: "$" with one or two digits (as many as there
// are: "$10" is group 10, "${1}0" group 1 and a "0"), "${name}" or
// "${12}", "$$" for one dollar; everything else is literal. A group the
// pattern lacks, and a "$" followed by none of these, are refused.
TemplateParse ParseTemplate(const QByteArray &text, const RegexCode &code);

// Whether the PCRE2 library has a JIT compiler on this machine.
bool RegexJitAvailable();

} // namespace perrox
