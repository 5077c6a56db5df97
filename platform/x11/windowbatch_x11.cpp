// Titles, class names and subwindows of many windows at once, through the XCB connection
// under Xlib: every request goes out before the first reply is read, so a whole list of
// windows costs one round trip instead of one or two per window.
#include "platform/x11/x11desktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib-xcb.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {
constexpr std::uint32_t kWholeProperty = 1u << 20; // in 32-bit units

struct FreeReply {
  void operator()(void* p) const { std::free(p); }
};
using PropertyReply = std::unique_ptr<xcb_get_property_reply_t, FreeReply>;

// The reply, or null when the window is gone or the property is missing.
PropertyReply TakeProperty(xcb_connection_t* c, xcb_get_property_cookie_t cookie) {
  xcb_generic_error_t* error = nullptr;
  PropertyReply reply(xcb_get_property_reply(c, cookie, &error));
  std::free(error);
  if (reply && reply->type == XCB_ATOM_NONE) reply.reset();
  return reply;
}

const unsigned char* Bytes(const PropertyReply& r) {
  return static_cast<const unsigned char*>(xcb_get_property_value(r.get()));
}
} // namespace

void Latin1ToUtf8(const unsigned char* in, unsigned long n, std::string* out) {
  out->clear();
  for (unsigned long i = 0; i < n && in[i]; ++i) {
    unsigned char c = in[i];
    if (c < 0x80) {
      out->push_back(static_cast<char>(c));
    } else {
      out->push_back(static_cast<char>(0xC0 | (c >> 6)));
      out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
}

void X11Desktop::FetchBatch(const std::vector<Window>& windows,
                            std::vector<std::vector<Window>>* kids) {
  watchdog_.Arm(); // a deep walk is many waits, each bounded on its own
  xcb_connection_t* c = XGetXCBConnection(dpy_);
  std::size_t n = windows.size();
  std::vector<xcb_query_tree_cookie_t> trees(kids ? n : 0);
  std::vector<xcb_get_property_cookie_t> netNames(n), wmNames(n);
  std::vector<bool> wanted(n);
  for (std::size_t i = 0; i < n; ++i) {
    auto w = static_cast<xcb_window_t>(windows[i]);
    if (kids) trees[i] = xcb_query_tree(c, w);
    wanted[i] = !titleCache_.count(windows[i]);
    if (!wanted[i]) continue;
    netNames[i] = xcb_get_property(c, 0, w, static_cast<xcb_atom_t>(atoms_[kNetWmName]),
                                   static_cast<xcb_atom_t>(atoms_[kUtf8String]), 0, kWholeProperty);
    wmNames[i] =
        xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, kWholeProperty);
  }
  if (kids) kids->assign(n, {});
  for (std::size_t i = 0; i < n; ++i) {
    if (kids) {
      xcb_generic_error_t* error = nullptr;
      xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, trees[i], &error);
      std::free(error);
      if (tree) {
        const xcb_window_t* list = xcb_query_tree_children(tree);
        // Stacking order is bottom to top; the front window comes first, as on Windows.
        for (int k = xcb_query_tree_children_length(tree); k-- > 0;)
          (*kids)[i].push_back(list[k]);
        std::free(tree);
      }
    }
    if (!wanted[i]) continue;
    PropertyReply net = TakeProperty(c, netNames[i]);
    PropertyReply wm = TakeProperty(c, wmNames[i]);
    std::string title;
    if (net && net->type == atoms_[kUtf8String] && net->format == 8) {
      title.assign(Bytes(net), Bytes(net) + xcb_get_property_value_length(net.get()));
    } else if (wm && wm->format == 8) {
      auto length = static_cast<unsigned long>(xcb_get_property_value_length(wm.get()));
      if (wm->type == XA_STRING)
        Latin1ToUtf8(Bytes(wm), length, &title);
      else
        title.assign(Bytes(wm), Bytes(wm) + length);
    }
    if (std::size_t nul = title.find('\0'); nul != std::string::npos) title.resize(nul);
    titleCache_[windows[i]] = title;
  }
  if (xcb_connection_has_error(c)) lost_ = true;
}

void X11Desktop::FetchClasses(const std::vector<Window>& windows) {
  xcb_connection_t* c = XGetXCBConnection(dpy_);
  std::vector<xcb_get_property_cookie_t> cookies(windows.size());
  for (std::size_t i = 0; i < windows.size(); ++i)
    if (!classCache_.count(windows[i]))
      cookies[i] = xcb_get_property(c, 0, static_cast<xcb_window_t>(windows[i]), XCB_ATOM_WM_CLASS,
                                    XCB_ATOM_STRING, 0, kWholeProperty);
  for (std::size_t i = 0; i < windows.size(); ++i) {
    if (classCache_.count(windows[i])) continue;
    PropertyReply reply = TakeProperty(c, cookies[i]);
    std::string name;
    if (reply && reply->type == XA_STRING && reply->format == 8) {
      // WM_CLASS holds the instance name and then the class name, each ended by a NUL.
      const unsigned char* begin = Bytes(reply);
      const unsigned char* end = begin + xcb_get_property_value_length(reply.get());
      const unsigned char* instanceEnd = std::find(begin, end, '\0');
      if (instanceEnd != end) name.assign(instanceEnd + 1, std::find(instanceEnd + 1, end, '\0'));
    }
    classCache_[windows[i]] = name;
  }
  if (xcb_connection_has_error(c)) lost_ = true;
}
