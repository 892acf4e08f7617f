// The runtime's contract, pinned with a program image of the test's own (two
// windows, a timer, a menu, buttons and an edit box) rather than through the
// memo program: event order, modal loads, routes, quiet property writes,
// message-box answers, and that closed windows do not pile up.
#include <Qsci/qsciscintilla.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QListWidget>
#include <QMenu>
#include <QTest>
#include <iterator>
#include <string>
#include <vector>

#include "base/program_image.h"
#include "base/runtime.h"
#include "base/start_protocol.h"
#include "runtime/message_box.h"
#include "runtime/qt_runtime.h"
#include "tests/support/test_program.h"

using image::ControlKind;
using image::Event;

namespace {

std::vector<std::string> g_log;
rt::Runtime* g_rt = nullptr;
bool g_refuseClose = false;

QWidget* Window(const char* name) {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == QLatin1String(name) && w->isVisible()) return w;
  }
  return nullptr;
}

// The log without the events a test does not look at.
std::vector<std::string> Without(std::vector<std::string> log, const std::string& what) {
  std::erase(log, what);
  return log;
}

template <const char* What>
void Log(image::EventArgs&) {
  g_log.emplace_back(What);
}

constexpr char kAlphaCreated[] = "alpha created";
constexpr char kAlphaFirst[] = "alpha first activation";
constexpr char kAlphaMoved[] = "alpha moved";
constexpr char kAlphaDestroy[] = "alpha destroy";
constexpr char kBetaDestroy[] = "beta destroy";
constexpr char kTimer[] = "timer";
constexpr char kMenuOne[] = "menu one";
constexpr char kCheck[] = "check clicked";
constexpr char kRadio[] = "radio clicked";
constexpr char kTyped[] = "typed";
constexpr char kPushed[] = "button clicked";

void ListSelected(image::EventArgs& args) {
  g_log.push_back("selected " + std::to_string(args.code));
}

void AlphaCreated(image::EventArgs&) {
  // Created runs before the window is shown, and may move it unreported.
  g_log.push_back(std::string(kAlphaCreated) + (Window("Alpha") ? " (shown)" : " (not shown)"));
  g_rt->Move("Alpha", 30, 40);
}

void BetaCreated(image::EventArgs&) { g_log.emplace_back("beta created"); }

void BetaClose(image::EventArgs& args) {
  g_log.emplace_back("beta asked to close");
  args.cancel = g_refuseClose;
}

void EndRoutine() { g_log.emplace_back("end routine"); }

constexpr image::MenuItemDesc kItems[] = {{"One", true}, {}, {"Two"}};

constexpr image::ControlDesc kAlphaControls[] = {
    {.kind = ControlKind::Timer, .name = "T", .visible = false},
    {.kind = ControlKind::Menu, .name = "M", .visible = false, .items = kItems, .itemCount = 3},
    {.kind = ControlKind::CheckBox, .name = "C", .caption = "check", .width = 80, .height = 16},
    {.kind = ControlKind::RadioButton, .name = "R1", .caption = "one", .top = 20, .width = 60},
    {.kind = ControlKind::RadioButton, .name = "R2", .caption = "two", .top = 40, .width = 60},
    {.kind = ControlKind::Button,
     .name = "B",
     .caption = "push",
     .left = 100,
     .width = 60,
     .height = 24},
    {.kind = ControlKind::ListBox, .name = "L", .left = 100, .top = 30, .width = 90, .height = 60},
};

constexpr image::ControlDesc kBetaControls[] = {
    {.kind = ControlKind::MemoEdit, .name = "E", .width = 200, .height = 100},
};

constexpr image::WindowDesc kWindows[] = {
    {.name = "Alpha",
     .caption = "Alpha",
     .width = 206,
     .height = 124,
     .controls = kAlphaControls,
     .controlCount = static_cast<int>(std::size(kAlphaControls))},
    {.name = "Beta",
     .caption = "Beta",
     .width = 206,
     .height = 124,
     .controls = kBetaControls,
     .controlCount = 1},
};

constexpr image::HandlerEntry kHandlers[] = {
    {"Alpha", nullptr, Event::Created, AlphaCreated},
    {"Alpha", nullptr, Event::FirstActivation, Log<kAlphaFirst>},
    {"Alpha", nullptr, Event::PositionChanged, Log<kAlphaMoved>},
    {"Alpha", nullptr, Event::AboutToDestroy, Log<kAlphaDestroy>},
    {"Alpha", "T", Event::TimerFired, Log<kTimer>},
    {"Alpha", "One", Event::MenuItemChosen, Log<kMenuOne>},
    {"Alpha", "C", Event::Clicked, Log<kCheck>},
    {"Alpha", "R1", Event::Clicked, Log<kRadio>},
    {"Alpha", "B", Event::Clicked, Log<kPushed>},
    {"Alpha", "L", Event::SelectionChanged, ListSelected},
    {"Beta", nullptr, Event::Created, BetaCreated},
    {"Beta", nullptr, Event::AskedToClose, BetaClose},
    {"Beta", nullptr, Event::AboutToDestroy, Log<kBetaDestroy>},
    {"Beta", "E", Event::TextChanged, Log<kTyped>},
};

constexpr image::RouteEntry kRoutes[] = {{"Alpha", "R2", "R1"}};

int Entry(rt::Runtime&) { return 0; }

constexpr image::ProgramImage kImage = {
    .magic = image::kImageMagic,
    .version = image::kImageVersion,
    .runtimeInterface = rt::kInterfaceVersion,
    .entry = Entry,
    .windows = kWindows,
    .windowCount = 2,
    .handlers = kHandlers,
    .handlerCount = static_cast<int>(std::size(kHandlers)),
    .routes = kRoutes,
    .routeCount = 1,
};

void Pump(int ms = 0) { PumpEvents(ms); }

bool Logged(const std::string& what) {
  return std::find(g_log.begin(), g_log.end(), what) != g_log.end();
}

class Contract : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureTestApplication();
    g_log.clear();
    g_refuseClose = false;
    RuntimeOptions options;
    options.programDirectory = "/nonexistent";
    options.onModal = [this](const std::string& w) {
      if (onModal) onModal(w);
    };
    runtime = MakeQtRuntime(kImage, std::move(options));
    g_rt = runtime.get();
    g_rt->SetEndOfProgramRoutine(EndRoutine);
  }
  void TearDown() override {
    runtime.reset();
    g_rt = nullptr;
    Pump();
  }
  std::unique_ptr<rt::Runtime> runtime;
  std::function<void(const std::string&)> onModal;
};

}  // namespace

TEST_F(Contract, CreatedBeforeShownThenFirstActivationQueuedOnce) {
  g_rt->LoadWindow("Alpha", {}, false);
  // The move made while creating is no change of place the user made (a
  // move may follow once the shown window's frame is known).
  ASSERT_FALSE(g_log.empty());
  EXPECT_EQ(g_log[0], "alpha created (not shown)");
  EXPECT_FALSE(Logged(kAlphaFirst));
  EXPECT_TRUE(g_rt->IsVisible("Alpha"));
  Pump();
  EXPECT_EQ(std::count(g_log.begin(), g_log.end(), kAlphaFirst), 1);
  QApplication::setActiveWindow(Window("Alpha"));
  Pump();
  EXPECT_EQ(std::count(g_log.begin(), g_log.end(), kAlphaFirst), 1);
  // A load of a loaded window brings it forward and creates nothing.
  g_rt->LoadWindow("Alpha", {}, false);
  EXPECT_EQ(std::count(g_log.begin(), g_log.end(), "alpha created (not shown)"), 1);
}

TEST_F(Contract, PositionChangesAreReportedOncePerChange) {
  g_rt->LoadWindow("Alpha", {}, false);
  Pump();
  g_log.clear();
  g_rt->Move("Alpha", 100, 120);
  EXPECT_EQ(g_log, std::vector<std::string>{kAlphaMoved});
  g_rt->Move("Alpha", 100, 120);  // already there
  EXPECT_EQ(g_log.size(), 1u);
  const rt::Geometry g = g_rt->GetGeometry("Alpha");
  EXPECT_EQ(g.left, 100);
  EXPECT_EQ(g.top, 120);
}

TEST_F(Contract, PropertyWritesRaiseNoEventsButTheUserDoes) {
  g_rt->LoadWindow("Alpha", {}, false);
  Pump();
  g_log.clear();
  g_rt->SetChecked("Alpha", "C", true);
  g_rt->SetMenuChecked("Alpha", "One", true);
  g_rt->SetChecked("Alpha", "R2", true);
  EXPECT_TRUE(g_log.empty());
  EXPECT_TRUE(g_rt->IsChecked("Alpha", "R2"));
  // A click on R2 runs R1's handler (the route of the image).
  Window("Alpha")->findChild<QAbstractButton*>("R2")->click();
  Window("Alpha")->findChild<QAbstractButton*>("C")->click();
  EXPECT_EQ(g_log, (std::vector<std::string>{kRadio, kCheck}));
  // A menu item's check mark changes only when the program sets it.
  g_log.clear();
  QAction* one = nullptr;
  for (QMenu* m : Window("Alpha")->findChildren<QMenu*>()) {
    for (QAction* a : m->actions()) {
      if (a->text() == "One") one = a;
    }
  }
  ASSERT_NE(one, nullptr);
  one->trigger();
  EXPECT_EQ(g_log, std::vector<std::string>{kMenuOne});
  EXPECT_TRUE(g_rt->MenuChecked("Alpha", "One"));

  // A list filled and its current item set by the program says nothing; the
  // user's move to another item does, and so does a push button.
  g_log.clear();
  g_rt->SetListItems("Alpha", "L", {{"a"}, {"b"}, {"c"}});
  g_rt->SetListCurrentIndex("Alpha", "L", 2);
  EXPECT_EQ(g_rt->ListCurrentIndex("Alpha", "L"), 2);
  g_rt->SetListCurrentIndex("Alpha", "L", 7);
  EXPECT_EQ(g_rt->ListCurrentIndex("Alpha", "L"), -1);
  EXPECT_TRUE(g_log.empty());
  auto* list = Window("Alpha")->findChild<QListWidget*>("L");
  ASSERT_NE(list, nullptr);
  g_rt->SetListCurrentIndex("Alpha", "L", 0);
  list->setFocus();
  QTest::keyClick(list, Qt::Key_Down);
  Window("Alpha")->findChild<QAbstractButton*>("B")->click();
  EXPECT_EQ(g_log, (std::vector<std::string>{"selected 1", kPushed}));
}

TEST_F(Contract, TimersFireAtTheirInterval) {
  g_rt->LoadWindow("Alpha", {}, false);
  g_rt->SetTimerInterval("Alpha", "T", 20);
  EXPECT_EQ(g_rt->TimerInterval("Alpha", "T"), 20);
  Pump(150);
  EXPECT_GE(std::count(g_log.begin(), g_log.end(), kTimer), 2);
  g_rt->SetTimerInterval("Alpha", "T", 0);
  EXPECT_EQ(g_rt->TimerInterval("Alpha", "T"), 0);
}

TEST_F(Contract, AModalLoadReturnsOnceTheWindowHasClosed) {
  g_rt->LoadWindow("Alpha", {}, false);
  int asked = 0;
  onModal = [&](const std::string& w) {
    ++asked;
    // The user types: the box reports it; the program's own text does not.
    g_rt->SetEditText(w, "E", "set by the program");
    auto* edit = Window("Beta")->findChild<QsciScintilla*>();
    edit->insert("x");
    g_refuseClose = true;
    g_rt->CloseWindow(w);
    EXPECT_TRUE(g_rt->IsLoaded(w));  // the handler kept it open
    g_refuseClose = false;
    g_rt->CloseWindow(w);
  };
  g_rt->LoadWindow("Beta", "Alpha", true);
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(g_rt->IsLoaded("Beta"));
  EXPECT_EQ(Without(Without(g_log, kAlphaMoved), kAlphaFirst),
            (std::vector<std::string>{"alpha created (not shown)", "beta created", kTyped,
                                      "beta asked to close", "beta asked to close", kBetaDestroy}));
}

TEST_F(Contract, EndingDestroysOwnedWindowsFirstThenRunsTheEndRoutine) {
  g_rt->LoadWindow("Alpha", {}, false);
  onModal = [&](const std::string&) { g_rt->EndProgram(7); };
  g_rt->LoadWindow("Beta", "Alpha", true);
  EXPECT_TRUE(g_rt->Ending());
  // The open modal window is asked first (so it can keep its text), then
  // destroyed before its owner, then the end routine.
  const std::vector<std::string> tail(g_log.end() - 4, g_log.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"beta asked to close", kBetaDestroy, kAlphaDestroy,
                                            "end routine"}));
  EXPECT_EQ(g_rt->MessageLoop(), 7);
  // Nothing is built any more.
  g_rt->LoadWindow("Alpha", {}, false);
  EXPECT_FALSE(g_rt->IsLoaded("Alpha"));
}

TEST_F(Contract, ClosedWindowsDoNotPileUp) {
  g_rt->LoadWindow("Alpha", {}, false);
  onModal = [&](const std::string& w) { g_rt->CloseWindow(w); };
  for (int i = 0; i < 30; ++i) g_rt->LoadWindow("Beta", "Alpha", true);
  Pump();
  int editors = 0;
  for (QWidget* w : QApplication::allWidgets())
    editors += qobject_cast<QsciScintilla*>(w) != nullptr;
  EXPECT_EQ(editors, 0);
}

TEST(MessageBoxes, EachStyleHasItsButtonsAndItsAnswerWithoutOne) {
  struct Row {
    unsigned flags;
    std::vector<int> ids;
    int withoutButton;
  };
  const Row rows[] = {
      {rt::MB_OK, {rt::IDOK}, rt::IDOK},
      {rt::MB_OKCANCEL, {rt::IDOK, rt::IDCANCEL}, rt::IDCANCEL},
      {rt::MB_ABORTRETRYIGNORE, {rt::IDABORT, rt::IDRETRY, rt::IDIGNORE}, 0},
      {rt::MB_YESNOCANCEL, {rt::IDYES, rt::IDNO, rt::IDCANCEL}, rt::IDCANCEL},
      {rt::MB_YESNO, {rt::IDYES, rt::IDNO}, rt::IDNO},
      {rt::MB_RETRYCANCEL, {rt::IDRETRY, rt::IDCANCEL}, rt::IDCANCEL},
      {rt::MB_YESNO | rt::MB_ICONQUESTION, {rt::IDYES, rt::IDNO}, rt::IDNO},
      // Closing an offer is a 否 for now, never the 不再询问 that turns it off.
      {rt::MB_YESNONEVER, {rt::IDYES, rt::IDNO, rt::IDNEVER}, rt::IDNO},
  };
  for (const Row& row : rows) {
    std::vector<int> ids;
    for (const MessageButton& b : ButtonsFor(row.flags)) ids.push_back(b.id);
    EXPECT_EQ(ids, row.ids) << row.flags;
    EXPECT_EQ(AnswerWithoutButton(ButtonsFor(row.flags)), row.withoutButton) << row.flags;
  }
  EXPECT_EQ(IconFor(rt::MB_ICONERROR), QMessageBox::Critical);
  EXPECT_EQ(IconFor(rt::MB_ICONINFORMATION | rt::MB_OKCANCEL), QMessageBox::Information);
  EXPECT_EQ(IconFor(rt::MB_OK), QMessageBox::NoIcon);
}

TEST(MessageBoxes, ButtonsEscapeAndCopy) {
  EnsureTestApplication();
  // A button pressed answers its id.
  const auto press = [](const char* text) {
    return [text](QMessageBox& box) {
      for (QAbstractButton* b : box.buttons()) {
        if (b->text() == QString::fromUtf8(text)) b->click();
      }
    };
  };
  EXPECT_EQ(ShowMessageBox(nullptr, "T", "pick", rt::MB_YESNOCANCEL, nullptr, press("否")),
            rt::IDNO);
  EXPECT_EQ(ShowMessageBox(nullptr, "T", "pick", rt::MB_ABORTRETRYIGNORE, nullptr, press("忽略")),
            rt::IDIGNORE);
  // Escape answers the cancel-like button, never "no".
  const auto escape = [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); };
  EXPECT_EQ(ShowMessageBox(nullptr, "T", "escape", rt::MB_RETRYCANCEL, nullptr, escape),
            rt::IDCANCEL);
  EXPECT_EQ(ShowMessageBox(nullptr, "T", "escape", rt::MB_YESNOCANCEL, nullptr, escape),
            rt::IDCANCEL);
  // Ctrl+C copies title, text and buttons.
  QString copied;
  ShowMessageBox(nullptr, "标题", "第一行\r\n第二行", rt::MB_OK, nullptr, [&](QMessageBox& box) {
    QApplication::setActiveWindow(&box);  // a shortcut needs its window active
    QTest::keyClick(&box, Qt::Key_C, Qt::ControlModifier);
    copied = QGuiApplication::clipboard()->text();
    box.accept();
  });
  EXPECT_EQ(copied.toStdString(),
            "---------------------------\n标题\n---------------------------\n第一行\n第二行\n"
            "---------------------------\n确定   \n---------------------------\n");
}

// The runtime refuses an image of another layout or another interface
// version, before any window toolkit starts.
TEST(ImageCheck, AnImageOfAnotherInterfaceIsRefused) {
  const char* bin = std::getenv("TAMSIVO_TEST_BIN");
  if (!bin) GTEST_SKIP() << "TAMSIVO_TEST_BIN names the built program directory";
  const std::string lib = std::string(bin) + "/tesmo.qrr";
  void* module = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  auto getNewSock = reinterpret_cast<start::GetNewSockFn>(dlsym(module, "GetNewSock"));
  ASSERT_NE(getNewSock, nullptr);
  auto startFn = reinterpret_cast<start::StartFn>(getNewSock(start::kStartRequest));
  ASSERT_NE(startFn, nullptr);
  image::ProgramImage other = kImage;
  other.runtimeInterface = rt::kInterfaceVersion + 1;
  EXPECT_EQ(startFn(&other), start::kRefused);
  other = kImage;
  other.version = image::kImageVersion - 1;
  EXPECT_EQ(startFn(&other), start::kRefused);
  EXPECT_EQ(getNewSock(999), nullptr);
}
