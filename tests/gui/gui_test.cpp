// The desktop window, its close control and the Qt front end, on Qt's
// off-screen platform and the event loop on Qt.

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <cstdlib>

#include <gtest/gtest.h>

#include "client/client_fixture.h"
#include "gui/desktop_host.h"
#include "gui/main_form_view.h"
#include "gui/qt_front_end.h"

namespace pellan::gui {
namespace {

using client::frmTLVFTP;
using namespace std::chrono_literals;

// One QApplication for the whole program, made before any loop.
class QtApplicationEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("PELLAN_TEST_LOOP", "qt", 1);
    m_app = new QApplication(m_argc, m_argv);
    QApplication::setQuitOnLastWindowClosed(false);
  }
  void TearDown() override { delete m_app; }

 private:
  int m_argc = 1;
  char m_name[16] = "test_gui";
  char* m_argv[2] = {m_name, nullptr};
  QApplication* m_app = nullptr;
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

class DesktopTest : public client::test::ClientTest {
 protected:
  // The window over a form whose end is recorded rather than thrown: Qt's
  // event handlers must not be left by an exception.
  MainFormView& View() {
    if (!m_view) {
      WriteSite(1);  // nothing listens there: a login fails at once
      frmTLVFTP& form = Form();
      form.EndProgram = [this](int status) { m_ended = status; };
      m_view = std::make_unique<MainFormView>(form, true);
      EXPECT_TRUE(form.Form_Load());  // shows the window; the login waits for the loop
    }
    return *m_view;
  }
  void Click(const char* control) { QTest::mouseClick(View().Control(control), Qt::LeftButton); }

  std::unique_ptr<MainFormView> m_view;
};

// The close control does nothing while exit is blocked; closing the idle
// window ends the program.
TEST_F(DesktopTest, TheCloseControlEndsOnlyAnIdleProgram) {
  MainFormView& view = View();
  client::WindowModel& model = Form().Model();
  model.SetEnabled("btnExit", false);
  Click("lblClose");
  Click("imgClose");
  EXPECT_EQ(End(), "running||tray");
  view.close();
  EXPECT_EQ(End(), "0||no tray");
}

// The login's refusal box is up (a nested loop) when the companion asks the
// client to exit: the exit runs inside the box's loop, and the click that
// showed the box returns normally once the box goes.
TEST_F(DesktopTest, AnExitRequestArrivingWhileAMessageBoxIsUpEndsTheClient) {
  View();
  QtFrontEnd frontEnd(Form().Model(), m_view.get());
  SetFrontEnd(&frontEnd);
  Form().Model().SetText("txtServerName", "");  // the start button's first check shows a box
  Form().Model().SetText("lblLogin", client::kCaptionLogin);
  bool boxSeen = false;
  QTimer poll;  // looks for the box every 10 ms
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) return;
    poll.stop();
    boxSeen = qobject_cast<QMessageBox*>(modal) != nullptr;
    Put("exit.txt", "");
    m_loop.Clock()->Advance(200ms);  // the request timer is due (the loop runs on a test clock)
    QTimer::singleShot(300, modal, [modal] { static_cast<QDialog*>(modal)->accept(); });
  });
  poll.start(10);
  Click("lblLogin");
  SetFrontEnd(&m_frontEnd);
  EXPECT_TRUE(boxSeen);
  EXPECT_EQ(End(), "0|\r\n|no tray");
}

TEST(DisplayAvailable, OnlyAnAnsweringDisplayOrANamedPlatformCounts) {
  pellan::test::ScopedEnv platform("QT_QPA_PLATFORM", nullptr), wayland("WAYLAND_DISPLAY", nullptr),
      display("DISPLAY", nullptr);
  EXPECT_FALSE(DisplayAvailable());
  for (const char* display : {":65000", "nonsense"}) {  // no such server, no such name
    setenv("DISPLAY", display, 1);
    EXPECT_FALSE(DisplayAvailable()) << display;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  EXPECT_TRUE(DisplayAvailable());
}

}  // namespace
}  // namespace pellan::gui
