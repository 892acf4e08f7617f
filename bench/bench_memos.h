// Memo texts for the benchmarks: 20 to 400 characters of Chinese words (some
// traditional), Latin words and marks, the same sequence for the same seed.
#pragma once

#include <cstdint>
#include <iterator>
#include <string>

#include "archive/fold.h"

namespace bench {

inline const char* const kWords[] = {
    "开会",   "讨论",   "预算",    "买菜",     "打电话", "妈妈",  "孩子",   "学校",   "医院",
    "体检",   "跑步",   "游泳",    "读书",     "写报告", "项目",  "客户",   "出差",   "北京",
    "上海",   "火车票", "机票",    "生日",     "礼物",   "晚饭",  "朋友",   "聚会",   "天气",
    "下雨",   "晴天",   "心情",    "不错",     "有点累", "加班",  "周末",   "计划",   "复习",
    "考试",   "银行",   "还款",    "保险",     "修车",   "搬家",  "装修",   "电影",   "音乐会",
    "图书馆", "超市",   "水果",    "牛奶",     "鸡蛋",   "咖啡",  "散步",   "公园",   "邻居",
    "同事",   "老板",   "會議",    "電話",     "學習",   "開車",  "準備",   "報告",   "meeting",
    "Bob",    "Alice",  "project", "deadline", "PDF",    "email", "review", "iPhone", "WiFi",
    "OK",     "TODO",   "Python",  "C++",      "budget", "Q3",    "report", "的",     "了",
    "和",     "在",     "去",      "我",       "今天",   "明天",  "下午",   "上午",   "晚上"};
inline const char* const kMarks[] = {"，", "。", "、", "！", " ", "\n", "：", "；"};

inline std::uint64_t Next(std::uint64_t& state) {
  state = state * 6364136223846793005ULL + 1442695040888963407ULL;
  return state >> 33;
}

inline std::string MakeMemo(std::uint64_t& state) {
  const std::size_t target = 20 + Next(state) % 381;
  std::string memo;
  std::size_t chars = 0;
  while (chars < target) {
    const bool mark = Next(state) % 4 == 0;
    const std::string piece =
        mark ? kMarks[Next(state) % std::size(kMarks)] : kWords[Next(state) % std::size(kWords)];
    memo += piece;
    chars += archive::CountCharacters(piece);
  }
  return memo;
}

}  // namespace bench
