// The text side of a search: the trigram query a folded query becomes, the
// byte search that confirms a candidate, and the excerpt a hit shows.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

#include "archive/search.h"

namespace archive {

// Every third trigram of `folded` (3 characters or more) and the last, each
// quoted so nothing in it is an FTS operator.
std::string TrigramQuery(std::string_view folded);
// search_contains(text, part), registered on each search connection.
void ContainsFunction(sqlite3_context* context, int, sqlite3_value** args);
// The hit for `day`: its date parts and an excerpt of `original` around
// where `folded` sits in `indexedText`.
SearchHit MakeHit(double day, const std::string& indexedText, const std::string& original,
                  std::string_view folded);

}  // namespace archive
