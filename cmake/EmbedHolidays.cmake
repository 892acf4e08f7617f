# Writes OUT, a C++ source defining lunar::ShippedHolidayFiles() from the
# <year>.txt files in DIR. Run at build time (lunar/CMakeLists.txt), so the
# program always carries what data/holidays holds.
file(GLOB files "${DIR}/*.txt")
list(SORT files)
set(arrays "")
set(entries "")
foreach(f ${files})
  get_filename_component(year "${f}" NAME_WE)
  if(NOT year MATCHES "^[0-9][0-9][0-9][0-9]$")
    continue()
  endif()
  file(READ "${f}" hex HEX)
  if(hex STREQUAL "")
    continue()
  endif()
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(APPEND arrays "constexpr char k${year}[] = {${bytes}};\n")
  string(APPEND entries "    {${year}, {k${year}, sizeof k${year}}},\n")
endforeach()
if(entries STREQUAL "")
  set(arrays "constexpr std::span<const ShippedHolidayFile> kFiles;\n")
else()
  set(arrays "${arrays}\nconstexpr ShippedHolidayFile kFiles[] = {\n${entries}};\n")
endif()
set(text "// Generated from data/holidays by cmake/EmbedHolidays.cmake; do not edit.
#include \"lunar/shipped_holidays.h\"

namespace lunar {
namespace {

${arrays}
}  // namespace

std::span<const ShippedHolidayFile> ShippedHolidayFiles() { return kFiles; }

}  // namespace lunar
")
# Unchanged text keeps the file's time, so nothing is rebuilt for nothing.
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT "${old}" STREQUAL "${text}")
  file(WRITE "${OUT}" "${text}")
endif()
