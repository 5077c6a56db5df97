// Sway's IPC: one GET_TREE request and just enough JSON to walk the tree it returns.
#include "platform/wayland/swayipc_wayland.h"

#include "errlog/errstack.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr std::uint32_t kGetTree = 4;
constexpr int kAnswerMsecs = 5000;

struct Json {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  bool flag = false;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::vector<std::string> keys; // of an object, one per item
  const Json* Get(const char* key) const {
    for (std::size_t i = 0; i < keys.size(); ++i)
      if (keys[i] == key) return &items[i];
    return nullptr;
  }
};

class JsonReader {
public:
  explicit JsonReader(const std::string& text) : p_(text.c_str()), end_(p_ + text.size()) {}
  bool Read(Json* out, int depth = 0) {
    Skip();
    if (p_ >= end_ || depth > 200) return false;
    if (*p_ == '{' || *p_ == '[') return Container(out, depth);
    if (*p_ == '"') return out->kind = Json::kString, String(&out->text);
    if (Word("true")) return out->kind = Json::kBool, out->flag = true;
    if (Word("false")) return out->kind = Json::kBool, true;
    if (Word("null")) return true;
    char* after = nullptr;
    out->number = std::strtod(p_, &after);
    if (after == p_) return false;
    p_ = after;
    out->kind = Json::kNumber;
    return true;
  }

private:
  void Skip() {
    while (p_ < end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t'))
      ++p_;
  }
  bool Word(const char* w) {
    std::size_t n = std::strlen(w);
    if (static_cast<std::size_t>(end_ - p_) < n || std::strncmp(p_, w, n) != 0) return false;
    p_ += n;
    return true;
  }
  bool String(std::string* out) {
    ++p_;
    while (p_ < end_ && *p_ != '"') {
      if (*p_ == '\\' && p_ + 1 < end_) {
        ++p_;
        char c = *p_;
        if (c == 'u' && end_ - p_ > 4) {
          unsigned cp =
              static_cast<unsigned>(std::strtoul(std::string(p_ + 1, 4).c_str(), nullptr, 16));
          p_ += 4;
          Utf8(cp, out);
        } else {
          out->push_back(c == 'n'   ? '\n'
                         : c == 't' ? '\t'
                         : c == 'r' ? '\r'
                         : c == 'b' ? '\b'
                         : c == 'f' ? '\f'
                                    : c);
        }
        ++p_;
        continue;
      }
      out->push_back(*p_++);
    }
    if (p_ >= end_) return false;
    ++p_;
    return true;
  }
  static void Utf8(unsigned cp, std::string* out) {
    // Surrogate halves stay as they come: titles are compared, never shown from here.
    if (cp < 0x80) {
      out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  bool Container(Json* out, int depth) {
    bool object = *p_++ == '{';
    out->kind = object ? Json::kObject : Json::kArray;
    Skip();
    if (p_ < end_ && *p_ == (object ? '}' : ']')) return ++p_, true;
    for (;;) {
      Skip();
      if (object) {
        std::string key;
        if (p_ >= end_ || *p_ != '"' || !String(&key)) return false;
        Skip();
        if (p_ >= end_ || *p_++ != ':') return false;
        out->keys.push_back(key);
      }
      out->items.emplace_back();
      if (!Read(&out->items.back(), depth + 1)) return false;
      Skip();
      if (p_ < end_ && *p_ == ',') {
        ++p_;
        continue;
      }
      if (p_ < end_ && *p_ == (object ? '}' : ']')) return ++p_, true;
      return false;
    }
  }
  const char* p_;
  const char* end_;
};

bool SendAll(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    ssize_t k = send(fd, p, n, MSG_NOSIGNAL);
    if (k <= 0) return false;
    p += k, n -= static_cast<std::size_t>(k);
  }
  return true;
}

bool ReceiveAll(int fd, char* p, std::size_t n) {
  while (n > 0) {
    pollfd w = {fd, POLLIN, 0};
    if (poll(&w, 1, kAnswerMsecs) <= 0) return false;
    ssize_t k = recv(fd, p, n, 0);
    if (k <= 0) return false;
    p += k, n -= static_cast<std::size_t>(k);
  }
  return true;
}

// The reply to one IPC request, false with the reason on the error stack.
bool SwayRequest(std::uint32_t type, std::string* reply) {
  const char* path = std::getenv("SWAYSOCK");
  if (!path || !*path) {
    SeMErrMult("GetWindowRect: window positions come from sway's IPC, and SWAYSOCK is not set;"
               " mouse commands with a window need sway on Wayland",
               nullptr);
    return false;
  }
  sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof addr.sun_path) {
    SeMErrMult("GetWindowRect: SWAYSOCK is too long: ", path, nullptr);
    return false;
  }
  std::strcpy(addr.sun_path, path);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    SeMErrno("GetWindowRect: connect to SWAYSOCK ", path);
    if (fd >= 0) close(fd);
    return false;
  }
  char header[14] = {'i', '3', '-', 'i', 'p', 'c'};
  std::uint32_t fields[2] = {0, type};
  std::memcpy(header + 6, fields, sizeof fields);
  bool ok = SendAll(fd, header, sizeof header) && ReceiveAll(fd, header, sizeof header);
  if (ok) {
    std::memcpy(fields, header + 6, sizeof fields);
    ok = std::memcmp(header, "i3-ipc", 6) == 0 && fields[0] < (64u << 20);
  }
  if (ok) {
    reply->resize(fields[0]);
    ok = ReceiveAll(fd, reply->data(), reply->size());
  }
  close(fd);
  if (!ok) SeMErrMult("GetWindowRect: sway's IPC at ", path, " gave no answer", nullptr);
  return ok;
}

const std::string* Text(const Json& node, const char* key) {
  const Json* v = node.Get(key);
  return v && v->kind == Json::kString ? &v->text : nullptr;
}

bool Matches(const Json& node, const std::string& title, const std::string& appId) {
  const std::string* name = Text(node, "name");
  if (!name || *name != title || !node.Get("pid")) return false;
  const std::string* app = Text(node, "app_id");
  if (app) return *app == appId;
  const Json* props = node.Get("window_properties");
  const std::string* cls = props ? Text(*props, "class") : nullptr;
  return cls && *cls == appId;
}

void Collect(const Json& node, const std::string& title, const std::string& appId,
             std::vector<const Json*>* out) {
  if (Matches(node, title, appId)) out->push_back(&node);
  for (const char* list : {"nodes", "floating_nodes"})
    if (const Json* kids = node.Get(list))
      for (const Json& kid : kids->items)
        Collect(kid, title, appId, out);
}

int Int(const Json& rect, const char* key) {
  const Json* v = rect.Get(key);
  return v && v->kind == Json::kNumber ? static_cast<int>(v->number) : 0;
}

} // namespace

bool SwayWindowRect(const std::string& title, const std::string& appId, bool focused,
                    WinRect* rect) {
  std::string reply;
  if (!SwayRequest(kGetTree, &reply)) return false;
  Json tree;
  if (!JsonReader(reply).Read(&tree)) {
    SeMErrMult("GetWindowRect: sway's window tree could not be read", nullptr);
    return false;
  }
  std::vector<const Json*> found;
  Collect(tree, title, appId, &found);
  if (found.size() > 1 && focused) {
    std::vector<const Json*> front;
    for (const Json* n : found)
      if (const Json* f = n->Get("focused"); f && f->flag) front.push_back(n);
    found = front;
  }
  if (found.size() != 1) {
    SeMErrMult("GetWindowRect: sway ", found.empty() ? "has no" : "has more than one",
               " window titled \"", title.c_str(), "\" (app id \"", appId.c_str(),
               "\"), so its position is unknown", nullptr);
    return false;
  }
  const Json* r = found[0]->Get("rect");
  if (!r) {
    SeMErrMult("GetWindowRect: sway gave no rectangle for \"", title.c_str(), "\"", nullptr);
    return false;
  }
  rect->left = Int(*r, "x");
  rect->top = Int(*r, "y");
  rect->right = rect->left + Int(*r, "width");
  rect->bottom = rect->top + Int(*r, "height");
  return true;
}
