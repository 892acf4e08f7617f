// Schedules in the download source's JSON shape, for the tests.
#pragma once

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace holidayjson {

using Json = nlohmann::json;

struct Entry {
  std::string name, date;
  bool off;
};

// A made-up 2027 in the source's shape: 29 days off, 5 weekend working days.
inline std::vector<Entry> Days2027() {
  std::vector<Entry> days;
  const auto off = [&](const std::string& name, int month, int from, int to) {
    for (int d = from; d <= to; ++d) {
      char date[16];
      std::snprintf(date, sizeof date, "2027-%02d-%02d", month, d);
      days.push_back({name, date, true});
    }
  };
  off("元旦", 1, 1, 3);
  off("春节", 2, 5, 13);
  days.push_back({"春节", "2027-02-14", false});
  days.push_back({"春节", "2027-02-20", false});
  off("清明节", 4, 3, 5);
  off("劳动节", 5, 1, 5);
  days.push_back({"劳动节", "2027-05-08", false});
  off("端午节", 6, 9, 9);
  off("中秋节", 9, 15, 15);
  off("国庆节", 10, 1, 7);
  days.push_back({"国庆节", "2027-09-26", false});
  days.push_back({"国庆节", "2027-10-09", false});
  return days;
}

inline std::string Body(const std::vector<Entry>& days, int year = 2027) {
  Json root = {{"year", year}, {"papers", {"https://www.gov.cn/zhengce/2026-11/notice.htm"}}};
  root["days"] = Json::array();
  for (const Entry& e : days)
    root["days"].push_back({{"name", e.name}, {"date", e.date}, {"isOffDay", e.off}});
  return root.dump();
}

}  // namespace holidayjson
