// "maquetor /M" on a real display: the window opens, and closing it ends the
// program with status 0. The outer test starts this same binary under
// xvfb-run; inside, the inner test starts maquetor on that display, finds its
// window, asks it to close as a window manager would, and waits for the end.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/fixtures.h"
#include "support/oracles.h"

#ifdef MAQUETOR_HAVE_X11
#include <X11/Xlib.h>
#endif

namespace {

constexpr const char* kInnerFlag = "MAQUETOR_UNDER_XVFB";

TEST(DesktopRun, OpensTheWindowUnderXvfbAndEndsWithStatus0WhenClosed) {
#ifndef MAQUETOR_HAVE_X11
  GTEST_SKIP() << "built without the X11 client library";
#else
  if (testing_support::FindOnPath("xvfb-run").empty()) {
    if (testing_support::UnderCi()) FAIL() << "xvfb-run is missing under CI";
    GTEST_SKIP() << "xvfb-run is not installed";
  }
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  const auto run = testing_support::RunProcess(
      {"env", "-u", "QT_QPA_PLATFORM", std::string(kInnerFlag) + "=1", "xvfb-run", "-a", "-s",
       "-screen 0 1024x768x24", self, "--gtest_filter=DesktopRunInner.*"},
      {}, std::chrono::seconds(180));
  EXPECT_TRUE(run.ok()) << run.out << run.err;
  EXPECT_NE(run.out.find("[  PASSED  ] 1 test."), std::string::npos) << run.out << run.err;
#endif
}

#ifdef MAQUETOR_HAVE_X11

// The mapped top-level window titled `title`, if there is one.
std::optional<Window> FindWindow(Display* display, const std::string& title) {
  Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(display, root, &root, &parent, &children, &count)) return std::nullopt;
  const Atom net_wm_name = XInternAtom(display, "_NET_WM_NAME", False);
  std::optional<Window> found;
  for (unsigned int i = 0; i < count && !found; ++i) {
    XWindowAttributes attributes;
    Atom type = None;
    int format = 0;
    unsigned long length = 0, after = 0;
    unsigned char* name = nullptr;
    if (XGetWindowAttributes(display, children[i], &attributes) &&
        attributes.map_state == IsViewable &&
        XGetWindowProperty(display, children[i], net_wm_name, 0, 1024, False, AnyPropertyType,
                           &type, &format, &length, &after, &name) == Success &&
        name != nullptr) {
      if (std::string(reinterpret_cast<char*>(name), length) == title) found = children[i];
      XFree(name);
    }
  }
  if (children) XFree(children);
  return found;
}

// Waits up to a minute for the child to end, or for `until` to hold.
bool Wait(pid_t child, int& status, const std::function<bool()>& until) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < limit) {
    if (waitpid(child, &status, WNOHANG) == child) return true;
    if (until()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

TEST(DesktopRunInner, WindowOpensAndClosing) {
  if (!std::getenv(kInnerFlag)) GTEST_SKIP() << "runs only inside the Xvfb display";
  testing_support::TempDir config;
  Display* display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr) << "no X display";

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The settings seed goes to a scratch folder, not the user's own.
    setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    execl(MAQUETOR_EXE, MAQUETOR_EXE, "/M", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  std::optional<Window> window;
  bool ended = Wait(child, status, [&] {
    window = FindWindow(display, "Maquetor de Tablas para Grupo de Despachos de Abogados");
    return window.has_value();
  });
  EXPECT_FALSE(ended) << "maquetor /M ended before its window opened, status " << status;
  EXPECT_TRUE(window.has_value() || ended) << "the window never opened";

  if (window) {
    // What a window manager sends when the close box is clicked.
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = *window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, *window, False, NoEventMask, &event);
    XFlush(display);
    ended = Wait(child, status, [] { return false; });
  }
  if (!ended) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    ADD_FAILURE() << "maquetor did not end after its window was closed";
  } else {
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  }
  XCloseDisplay(display);
}

#endif

}  // namespace
