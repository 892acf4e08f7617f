// Builds a window's widgets from its description and connects their
// signals to the runtime's dispatch.
#include <Qsci/qsciscintilla.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QToolButton>

#include "runtime/builtin_images.h"
#include "runtime/runtime_core.h"

using image::ControlKind;

void QtRuntime::Build(WindowState& ws) {
  const image::WindowDesc& d = *ws.desc;
  RtWindow* w = ws.widget;
  w->setObjectName(QString::fromUtf8(d.name));
  w->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                    Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint);
  if (d.caption) {
    w->setWindowTitle(QString::fromUtf8(d.caption));
    w->setAccessibleName(QString::fromUtf8(d.caption));
  } else {
    w->setAccessibleName(QString::fromUtf8(d.name));
  }
  if (d.icon) {
    // One icon for every window that names it.
    auto it = icons_.find(std::string_view(d.icon));
    if (it == icons_.end()) it = icons_.emplace(d.icon, QIcon(ImageNamed(d.icon))).first;
    w->setWindowIcon(it->second);
  }
  w->setFixedSize(d.width - kFrameExtraWidth, d.height - kFrameExtraHeight);
  w->move(d.left, d.top);

  for (int i = 0; i < d.controlCount; ++i) {
    const image::ControlDesc& c = d.controls[i];
    QWidget* parent = w;
    if (c.parent) {
      if (QWidget* g = Control(ws, c.parent)) parent = g;
    }
    const std::string cname = c.name;
    const std::string wname = d.name;
    QWidget* made = nullptr;
    switch (c.kind) {
      case ControlKind::Timer: {
        auto* t = new QTimer(w);
        QObject::connect(t, &QTimer::timeout, w, [this, wname, cname] {
          if (WindowState* s = Find(wname)) Dispatch(*s, cname, Event::TimerFired);
        });
        ws.timers[cname] = t;
        continue;
      }
      case ControlKind::Menu: {
        auto* m = new QMenu(w);
        m->setObjectName(QString::fromUtf8(c.name));
        m->setAccessibleName(QString::fromUtf8(c.name));
        for (int k = 0; k < c.itemCount; ++k) {
          const image::MenuItemDesc& item = c.items[k];
          if (!item.caption) {
            m->addSeparator();
            continue;
          }
          QAction* a = m->addAction(QString::fromUtf8(item.caption));
          a->setCheckable(item.checkable);
          const std::string iname = item.caption;
          QObject::connect(a, &QAction::triggered, w, [this, wname, iname, a] {
            // A check mark changes only when the program sets it, so the
            // handler sees the mark as it was before the click.
            if (a->isCheckable()) {
              QSignalBlocker block(a);
              a->setChecked(!a->isChecked());
            }
            if (WindowState* s = Find(wname)) Dispatch(*s, iname, Event::MenuItemChosen);
          });
          ws.menuItems[iname] = a;
        }
        ws.menus[cname] = m;
        continue;
      }
      case ControlKind::ImageButton: {
        auto* b = new ImageButton(ImageNamed(c.image1 ? c.image1 : ""),
                                  ImageNamed(c.image2 ? c.image2 : ""), parent);
        ConnectClicked(b, wname, cname);
        made = b;
        break;
      }
      case ControlKind::Calendar: {
        auto* cal = new MemoCalendar(parent);
        cal->onPicked = [this, wname, cname] {
          if (WindowState* s = Find(wname)) Dispatch(*s, cname, Event::CalendarPicked);
        };
        cal->onDoubleClicked = [this, wname, cname] {
          if (WindowState* s = Find(wname)) Dispatch(*s, cname, Event::CalendarDblClick);
        };
        cal->onPageChanged = [this, wname, cname] {
          if (WindowState* s = Find(wname)) Dispatch(*s, cname, Event::CalendarPageChanged);
        };
        made = cal;
        break;
      }
      case ControlKind::MemoEdit: {
        auto* e = new MemoEditBox(parent);
        e->setUtf8(true);
        e->setWrapMode(QsciScintilla::WrapWord);
        e->setMarginWidth(1, 0);
        e->setEolMode(QsciScintilla::EolUnix);
        e->setFrameShape(QFrame::NoFrame);
        e->installEventFilter(new EscapeToWindow(e));
        QObject::connect(e, &QsciScintilla::textChanged, w, [this, wname, cname] {
          if (WindowState* s = Find(wname)) Dispatch(*s, cname, Event::TextChanged);
        });
        made = e;
        break;
      }
      case ControlKind::CheckBox: {
        auto* b = new QCheckBox(QString::fromUtf8(c.caption ? c.caption : ""), parent);
        ConnectClicked(b, wname, cname);
        made = b;
        break;
      }
      case ControlKind::RadioButton: {
        auto* b = new QRadioButton(QString::fromUtf8(c.caption ? c.caption : ""), parent);
        ConnectClicked(b, wname, cname);
        made = b;
        break;
      }
      case ControlKind::GroupBox: {
        made = new QGroupBox(QString::fromUtf8(c.caption ? c.caption : ""), parent);
        break;
      }
      case ControlKind::LineEdit:
      case ControlKind::PasswordEdit: {
        auto* e = new QLineEdit(QString::fromUtf8(c.caption ? c.caption : ""), parent);
        if (c.kind == ControlKind::PasswordEdit) {
          e->setEchoMode(QLineEdit::Password);
        } else {
          e->setClearButtonEnabled(true);
          // Heard by a screen reader as what it does, not as a nameless button.
          for (QToolButton* b : e->findChildren<QToolButton*>())
            b->setAccessibleName(QStringLiteral("清除"));
        }
        QObject::connect(e, &QLineEdit::textEdited, w, [this, wname, cname] {
          if (WindowState* s = Find(wname)) Dispatch(*s, cname, Event::TextChanged);
        });
        // Enter in the box: "take what is chosen" (code -1, no item).
        QObject::connect(e, &QLineEdit::returnPressed, w, [this, wname, cname] {
          image::EventArgs args;
          args.code = -1;
          if (WindowState* s = Find(wname)) Dispatch(*s, cname, Event::ItemActivated, args);
        });
        made = e;
        break;
      }
      case ControlKind::ListBox: {
        auto* l = new MarkedList(parent);
        QObject::connect(l, &QListWidget::itemActivated, w,
                         [this, wname, cname, l](QListWidgetItem* item) {
                           image::EventArgs args;
                           args.code = l->row(item);
                           if (WindowState* s = Find(wname))
                             Dispatch(*s, cname, Event::ItemActivated, args);
                         });
        // Programmatic changes are made under a signal blocker.
        QObject::connect(l, &QListWidget::currentRowChanged, w, [this, wname, cname](int row) {
          image::EventArgs args;
          args.code = row;
          if (WindowState* s = Find(wname)) Dispatch(*s, cname, Event::SelectionChanged, args);
        });
        made = l;
        break;
      }
      case ControlKind::Button: {
        auto* b = new QPushButton(QString::fromUtf8(c.caption ? c.caption : ""), parent);
        b->setAutoDefault(false);
        ConnectClicked(b, wname, cname);
        made = b;
        break;
      }
      case ControlKind::Label: {
        auto* l = new FittedLabel(parent);
        l->SetFullText(QString::fromUtf8(c.caption ? c.caption : ""));
        // Its text is its name; what it is for describes it.
        if (c.accessibleName && !c.accessibleDescription) {
          l->setAccessibleDescription(QString::fromUtf8(c.accessibleName));
        }
        made = l;
        break;
      }
    }
    made->setObjectName(QString::fromUtf8(c.name));
    if (!qobject_cast<FittedLabel*>(made)) {
      made->setAccessibleName(QString::fromUtf8(c.accessibleName ? c.accessibleName
                                                : c.caption      ? c.caption
                                                                 : c.name));
    }
    if (c.accessibleDescription) {
      made->setAccessibleDescription(QString::fromUtf8(c.accessibleDescription));
      made->setToolTip(QString::fromUtf8(c.accessibleDescription));
    }
    // Text controls get at least the height their font needs, centred on the
    // designed line, so nothing is clipped on a larger font.
    int top = c.top, height = c.height;
    if (qobject_cast<QCheckBox*>(made) || qobject_cast<QRadioButton*>(made)) {
      const int need = made->sizeHint().height();
      if (need > height) {
        top -= (need - height) / 2;
        height = need;
      }
    }
    made->setGeometry(c.left, top, c.width, height);
    made->setVisible(c.visible);
    ws.controls[cname] = made;
  }

  for (int i = 0; i < d.shortcutCount; ++i) {
    const image::ShortcutDesc& s = d.shortcuts[i];
    auto* shortcut = new QShortcut(QKeySequence(QString::fromUtf8(s.keys)), w);
    shortcut->setContext(Qt::WindowShortcut);
    const std::string wname = d.name, sname = s.name;
    QObject::connect(shortcut, &QShortcut::activated, w, [this, wname, sname] {
      if (WindowState* st = Find(wname)) Dispatch(*st, sname, Event::ShortcutUsed);
    });
  }
}

void QtRuntime::ConnectClicked(QAbstractButton* b, const std::string& wname,
                               const std::string& cname) {
  // clicked() comes from the user only; programmatic changes stay silent.
  QObject::connect(b, &QAbstractButton::clicked, b, [this, wname, cname] {
    if (WindowState* s = Find(wname)) Dispatch(*s, cname, Event::Clicked);
  });
}
