// RedNotebook keeps a month in a file named YYYY-MM.txt: YAML mapping each
// day's number to {text: …}. Read with yaml-cpp.
#include <yaml-cpp/yaml.h>

#include "intake/decode.h"
#include "intake/readers.h"

namespace intake {
namespace {

constexpr int kMaxNesting = 64;

bool MonthOfName(std::string_view name, int* year, int* month) {
  const std::size_t slash = name.rfind('/');
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  Date d;
  const std::string probe = std::string(name.substr(0, 7)) + "-01";
  if (name.size() < 7 || !ParseIsoDate(probe, &d)) return false;
  *year = d.year;
  *month = d.month;
  return true;
}

}  // namespace

void ReadRedNotebook(const std::string& name, std::string_view raw, Reading* out) {
  int year = 0, month = 0;
  if (!MonthOfName(name, &year, &month)) {
    out->problems.push_back({name, "", "文件名应为“年-月.txt”，例如 2026-12.txt"});
    return;
  }
  const std::string text = UnifyLineEnds(raw);
  if (NestedTooDeep(text, kMaxNesting)) {
    out->problems.push_back({name, "", "括号嵌套过深，没有读取"});
    return;
  }
  YAML::Node doc;
  try {
    doc = YAML::Load(text);
  } catch (const YAML::Exception& e) {
    std::fprintf(stderr, "tamsivo: import: %s: %s\n", name.c_str(), e.what());
    out->problems.push_back({name, LineAt(e.mark.line + 1), "YAML 格式有误，没有读取"});
    return;
  }
  if (doc.IsNull()) return;
  if (!doc.IsMap()) {
    out->problems.push_back({name, "", "不是按日记下的月份文件"});
    return;
  }
  try {
    for (const auto& pair : doc) {
      const int line = pair.first.Mark().line + 1;
      int day = 0;
      Date date;
      if (!pair.first.IsScalar() || !YAML::convert<int>::decode(pair.first, day) ||
          !ValidDate(date = Date{year, month, day})) {
        out->problems.push_back({name, LineAt(line), "不是这个月里的一天"});
        continue;
      }
      const YAML::Node value = pair.second;
      const YAML::Node body = value.IsMap() ? value["text"] : YAML::Node();
      if (!body.IsDefined() || body.IsNull()) continue;
      if (!body.IsScalar()) {
        out->problems.push_back({name, LineAt(line), "“text”不是文字"});
        continue;
      }
      std::string memo = UnifyLineEnds(body.Scalar());
      while (!memo.empty() && (memo.back() == '\n' || memo.back() == ' ')) memo.pop_back();
      if (memo.empty()) continue;
      AddEntry(out, {date, std::move(memo), "", name, line});
    }
  } catch (const YAML::Exception& e) {
    out->problems.push_back({name, LineAt(e.mark.line + 1), "YAML 内容无法读取"});
  }
}

}  // namespace intake
