#include "app/program.h"

namespace {
rt::Runtime* g_runtime = nullptr;
}

rt::Runtime& Rt() { return *g_runtime; }
void SetRuntime(rt::Runtime* runtime) { g_runtime = runtime; }

int RecordMode = 0;
double TodayDate = 0.0;
double SelectedDate = 0.0;
int ReturnToToday = 0;
std::vector<WindowRecord> CollectionList;
std::vector<std::string> PositionButtons;
std::vector<std::string> RecordModeButtons;

std::string ProgramFile(const std::string& name) { return Rt().ProgramDirectory() + "/" + name; }
