// Common ground of the simulation tests: a fake desktop, a fake clock and a clean error
// stack for every test.
#pragma once
#include "app/winlookup.h"
#include "base/settings.h"
#include "errlog/errstack.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_desktop.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using Lines = std::vector<std::string>;

class AppTest : public ::testing::Test {
protected:
  void SetUp() override {
    ClearErr();
    ResetSystemMetrics();
    debug_level = 0;
    daemon_pgm = false;
    d.scanCodes.clear(); // scan codes 0 unless a test sets them
  }
  void TearDown() override {
    ClearErr();
    ResetSystemMetrics();
  }

  // The pending message without its callers group (cleared), "" when none.
  static std::string TakeError() {
    char buf[kErrMsgSize];
    return ErrMessage(false, false, buf, sizeof buf) ? buf : "";
  }

  HWND_T Window(const char* title, const char* cls = "Notepad", HWND_T parent = 0) {
    FakeWindow w;
    w.title = title;
    w.className = cls;
    w.parent = parent;
    w.pid = 4242;
    w.rect = {100, 200, 740, 680};
    return d.Add(w);
  }

  // What ActivateWindow does to a window that takes the foreground when shown.
  static Lines Raised(HWND_T h, int showCmd = 1) {
    std::string n = std::to_string(static_cast<unsigned long long>(h));
    return {"SetWindowPos " + n + " after=topmost flags=0x3",
            "SetWindowPos " + n + " after=notopmost flags=0x43",
            "ShowWindow " + n + " cmd=" + std::to_string(showCmd)};
  }
  static std::string Key(int vk, bool up, int scan = 0) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "key %02x scan=%02x flags=%x", vk, scan, up ? 2 : 0);
    return buf;
  }
  static void Tap(Lines& out, int vk) {
    out.push_back(Key(vk, false));
    out.push_back(Key(vk, true));
  }
  static std::string Mouse(int dx, int dy, unsigned flags) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "mouse dx=%d dy=%d flags=0x%x", dx, dy, flags);
    return buf;
  }
  static Lines Join(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }

  ScopedFakeClock clockScope;
  ScopedFakeDesktop desktopScope;
  FakeClock& clock = clockScope.clock;
  FakeDesktop& d = desktopScope.desktop;
};
