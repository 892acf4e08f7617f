// What a CalDAV server sends. Input: a WebDAV answer body, NUL, a resource's
// calendar data, NUL, a memo. Reading either never fails hard; journals read
// back are texts as the server keeps them, on a real day; a UTF-8 memo sent
// as a journal comes back as the same text.
#include <string>

#include "archive/export.h"
#include "archive/memo_db.h"
#include "sync/dav_xml.h"
#include "sync/journal.h"
#include "tests/fuzz/fuzz_support.h"
#include "util/store_schema.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string_view> f = fuzz::Fields(data, size, 3);
  davsync::Multistatus ms;
  std::string error;
  if (davsync::ParseMultistatus(std::string(f[0]), &ms, &error)) {
    for (const davsync::DavResource& r : ms.resources) FUZZ_CHECK(!r.href.empty(), "an empty href");
  } else {
    FUZZ_CHECK(!error.empty(), "a refused answer without a reason");
  }
  std::vector<davsync::Journal> journals;
  if (davsync::ParseJournals(std::string(f[1]), &journals)) {
    for (const davsync::Journal& j : journals) {
      FUZZ_CHECK(davsync::ServerText(j.text) == j.text,
                 "a journal's text is not as servers keep it");
      FUZZ_CHECK(j.day >= storeschema::kMinDay && j.day <= storeschema::kMaxDay,
                 "a journal on no real day");
    }
  }
  const std::string memo(f[2]);
  if (fuzz::IsUtf8(memo) && memo.find('\0') == std::string::npos) {
    const double day = archive::FromCivil(2026, 12, 9);
    FUZZ_CHECK(davsync::ParseJournals(davsync::BuildJournal(day, memo, 1796783520), &journals),
               "our own journal does not read back");
    FUZZ_CHECK(journals.size() == 1 && journals[0].day == day, "our journal lost its day");
    FUZZ_CHECK(davsync::SameMemo(journals[0].text, memo), "a memo came back changed");
  }
  return 0;
}
