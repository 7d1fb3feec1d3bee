#include "platform/http/HttpRedirect.h"

#include <cstring>
#include <string_view>

#include "platform/files/UriResult.h"

namespace VexaHttp {
namespace {

using VexaFiles::kUriFailed;
using VexaFiles::kUriOk;
using VexaFiles::kUriTooSmall;

struct Escape {
  std::string_view sequence;
  std::string_view replacement;
};

constexpr Escape kEscapes[] = {
    {" ", "%20"}, {"\"", "%22"}, {"%%", "%25"}, {"'", "%27"}, {"*", "%2A"},
    {"<", "%3C"}, {">", "%3E"},  {"[", "%5B"},  {"]", "%5D"}, {"^", "%5E"},
    {"`", "%60"}, {"{", "%7B"},  {"|", "%7C"},  {"}", "%7D"},
};

constexpr std::string_view kScheme = "http://";

// Appends pieces to a terminated buffer; remembers when one did not fit.
class UrlWriter {
 public:
  UrlWriter(char* out, uint32_t capacity) : m_out(out), m_capacity(capacity) { m_out[0] = '\0'; }
  void Append(std::string_view text) {
    if (!m_fits || text.size() >= m_capacity - m_length) {
      m_fits = false;
      return;
    }
    std::memcpy(m_out + m_length, text.data(), text.size());
    m_length += static_cast<uint32_t>(text.size());
    m_out[m_length] = '\0';
  }
  bool Fits() const { return m_fits; }

 private:
  char* m_out;
  uint32_t m_capacity;
  uint32_t m_length = 0;
  bool m_fits = true;
};

std::string_view View(const TextSpan& span) { return {span.text, span.length}; }

bool SameServer(const HttpUrlParts& a, const HttpUrlParts& b) {
  return View(a.host) == View(b.host) && a.port == b.port;
}

// Escapes one sequence through the URL, copying into `scratch`.
bool ReplaceAll(char* url, uint32_t capacity, const Escape& escape, char* scratch) {
  std::string_view text(url);
  UrlWriter out(scratch, capacity);
  size_t from = 0;
  for (size_t at = text.find(escape.sequence); at != std::string_view::npos;
       at = text.find(escape.sequence, from)) {
    out.Append(text.substr(from, at - from));
    out.Append(escape.replacement);
    from = at + escape.sequence.size();
  }
  if (from == 0) return true;
  out.Append(text.substr(from));
  std::strcpy(url, scratch);
  return out.Fits();
}

}  // namespace

int32_t ResolveLocation(const char* currentUrl, const TextSpan& location, char* out,
                        uint32_t capacity) {
  std::string_view target = View(location);
  HttpUrlParts current;
  if (target.empty() || ParseHttpUrl(currentUrl, &current) != kUriOk) return kUriFailed;
  UrlWriter writer(out, capacity);
  if (target[0] == '/') {
    writer.Append(std::string_view(currentUrl, static_cast<size_t>(current.path.text - currentUrl)));
    writer.Append(target);
    return writer.Fits() ? kUriOk : kUriTooSmall;
  }
  if (target.substr(0, kScheme.size()) != kScheme) return VexaFiles::kUriNotSupported;
  writer.Append(target);
  if (!writer.Fits()) return kUriTooSmall;
  HttpUrlParts next;
  if (ParseHttpUrl(out, &next) != kUriOk) return kUriFailed;
  bool inherit = next.userInfo.text == nullptr && current.userInfo.text != nullptr &&
                 SameServer(current, next);
  if (!inherit) return kUriOk;
  UrlWriter withCredentials(out, capacity);
  withCredentials.Append(kScheme);
  withCredentials.Append(View(current.userInfo));
  withCredentials.Append("@");
  withCredentials.Append(target.substr(kScheme.size()));
  return withCredentials.Fits() ? kUriOk : kUriTooSmall;
}

bool EscapeLocation(char* url, uint32_t capacity) {
  char scratch[kHttpUrlCapacity];
  if (capacity > sizeof scratch) capacity = sizeof scratch;
  for (const Escape& escape : kEscapes) {
    if (!ReplaceAll(url, capacity, escape, scratch)) return false;
  }
  return true;
}

}  // namespace VexaHttp
