// What every import reader promises on any input: entries on real days with
// UTF-8 text within the bounds, problems that say something.
#pragma once

#include <string>

#include "intake/readers.h"
#include "tests/fuzz/fuzz_support.h"

namespace fuzz {

inline void CheckReading(const intake::Reading& r) {
  FUZZ_CHECK(r.entries.size() <= intake::kMaxEntries, "more entries than the bound");
  for (const intake::Entry& e : r.entries) {
    FUZZ_CHECK(intake::ValidDate(e.date), "an entry on a day that does not exist");
    FUZZ_CHECK(IsUtf8(e.text), "an entry's text is not UTF-8");
    FUZZ_CHECK(e.time.empty() || e.time.size() == 5, "a time that is not HH:MM");
  }
  for (const intake::Problem& p : r.problems)
    FUZZ_CHECK(!p.message.empty(), "a problem says nothing");
}

}  // namespace fuzz
