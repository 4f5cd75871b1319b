#pragma once

#include "arguments/findpattern.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace perrox {

// What is wrong with one Find&Replace pair, in the light of the pairs before
// and beside it. Pairs are numbered from 0 here and from 1 in the texts.
struct PairWarning
{
    // The earlier pair whose find is equal to this pair's find or its start:
    // at every position where this pair would match, that one matches first,
    // so this pair never replaces anything. -1 when there is none.
    int shadowedBy = -1;
    // The first pair whose find occurs in this pair's replacement: a second
    // run would replace again what this pair wrote. -1 when there is none.
    int replacementFinds = -1;

    bool any() const { return shadowedBy >= 0 || replacementFinds >= 0; }
};

// One warning per pair, in pair order. A find may be empty (a pair still
// being typed): it is never shadowed and shadows nothing.
std::vector<PairWarning> CheckPairs(const std::vector<QByteArray> &finds, const std::vector<QByteArray> &replaces);

// Adds to warnings (one per find) the later literal finds that an earlier
// find shadows by ignoring case and nothing more: it matches wherever the
// literal would, first.
void AddFoldedShadows(const std::vector<FindPattern> &finds, std::vector<PairWarning> &warnings);

// The warnings of pair (0-based) as sentences, one per line; empty when it has none.
QString PairWarningText(int pair, const PairWarning &warning);

// What keeps pairs of patterns from being searched, in pair order, the find
// before the replace of one pair: a regular expression that does not compile
// or can match an empty sequence, a find made only of wildcards or too long
// to be searched as an expression (ignoring case, whole words, wildcards), a template
// with a "$" that names no group of its expression. Empty when every pair can
// be searched.
std::vector<PatternRefusal> RefusePatterns(const std::vector<FindPattern> &finds, const std::vector<Replacement> &replaces);

} // namespace perrox
