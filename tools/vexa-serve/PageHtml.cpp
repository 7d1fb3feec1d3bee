#include "tools/vexa-serve/PageHtml.h"

#include <cstdio>

namespace {

constexpr char kStyle[] =
    "body{font-family:sans-serif;margin:1em 2em;max-width:60em}"
    "li{margin:.3em 0}.offers{font-size:smaller;color:#444;word-break:break-all}"
    "video{width:640px;max-width:100%;background:#000;display:block}"
    "#seek{width:30em;max-width:60%}";

// The player: mpegts.js turns the transport stream into the media element's source. A seek is
// a new request for the stream from that time (TimeSeekRange.dlna.org), whose first picture
// the media element shows at its time 0; the position shown is that start plus the element's
// time. The element gets no native controls: their seek would ask mpegts.js for byte ranges.
constexpr char kPlayerScript[] = R"JS(
(function () {
  function element(id) { return document.getElementById(id); }
  function on(id, event, handler) { element(id).addEventListener(event, handler); }
  var video = element('video'), seek = element('seek'), state = element('state');
  var player = null, source = '', base = 0, length = 0, dragging = false;
  function text(s) {
    s = Math.max(0, Math.floor(s));
    return Math.floor(s / 60) + ':' + ('0' + s % 60).slice(-2);
  }
  function position() { return base + video.currentTime; }
  function showClock(at) { element('clock').textContent = text(at) + ' / ' + text(length); }
  function start(at) {
    if (player) player.destroy();
    base = Math.max(0, Math.floor(length > 0 ? Math.min(at, length - 1) : at));
    var headers = {};
    if (base > 0) headers['TimeSeekRange.dlna.org'] = 'npt=' + base + '-';
    player = mpegts.createPlayer({type: 'mpegts', isLive: false, url: source},
                                 {headers: headers, lazyLoad: false, enableWorker: false});
    player.on(mpegts.Events.ERROR, function (type, detail) {
      state.textContent = 'playback failed: ' + type + ' ' + detail;
    });
    player.attachMediaElement(video);
    player.load();
    state.textContent = base > 0 ? 'playing from ' + text(base) : 'playing';
    var playing = video.play();
    if (playing) playing.catch(function () {});
  }
  document.querySelectorAll('button.play').forEach(function (button) {
    button.addEventListener('click', function () {
      source = button.dataset.src;
      length = Number(button.dataset.duration) || 0;
      seek.max = length;
      element('now').textContent = button.dataset.title;
      element('player').hidden = false;
      start(0);
    });
  });
  on('seek', 'input', function () { dragging = true; showClock(seek.value); });
  on('seek', 'change', function () { dragging = false; start(Number(seek.value)); });
  on('back', 'click', function () { start(position() - 10); });
  on('forward', 'click', function () { start(position() + 10); });
  on('pause', 'click', function () { if (video.paused) video.play(); else video.pause(); });
  on('video', 'timeupdate', function () {
    if (dragging) return;
    seek.value = position();
    showClock(position());
  });
})();
)JS";

void AppendLinkList(std::string& html, const char* listId, const std::vector<PageLink>& links) {
  html += "<ul id=\"";
  html += listId;
  html += "\">";
  for (const PageLink& link : links)
    html += "<li><a href=\"" + HtmlEscape(link.url) + "\">" + HtmlEscape(link.title) + "</a></li>";
  html += "</ul>\n";
}

void AppendPath(std::string& html, const std::vector<PageLink>& path) {
  html += "<nav id=\"path\">";
  for (size_t i = 0; i < path.size(); ++i) {
    if (i > 0) html += " / ";
    html += "<a href=\"" + HtmlEscape(path[i].url) + "\">" + HtmlEscape(path[i].title) + "</a>";
  }
  html += "</nav>\n";
}

void AppendItem(std::string& html, const PageItem& item) {
  html += "<li class=\"item\"><span class=\"title\">" + HtmlEscape(item.title) + "</span> ";
  if (!item.playerUrl.empty())
    html += "<button class=\"play\" data-src=\"" + HtmlEscape(item.playerUrl) +
            "\" data-duration=\"" + std::to_string(item.durationSeconds) + "\" data-title=\"" +
            HtmlEscape(item.title) + "\">play</button> ";
  html += "<a class=\"original\" href=\"" + HtmlEscape(item.mediaUrl) + "\">original file</a>";
  html += "<ul class=\"offers\">";
  if (item.offers.empty())
    html += "<li>the plug-in offers no other form of this file</li>";
  for (const PageOffer& offer : item.offers) {
    html += "<li><a href=\"" + HtmlEscape(offer.url) + "\">" + HtmlEscape(offer.protocolInfo) +
            "</a>";
    if (!offer.duration.empty()) html += ", " + HtmlEscape(offer.duration);
    html += "</li>";
  }
  html += "</ul></li>\n";
}

}  // namespace

std::string HtmlEscape(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&#39;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

int64_t DurationSeconds(const std::string& duration) {
  int hours = 0, minutes = 0, seconds = 0, used = 0;
  if (std::sscanf(duration.c_str(), "%d:%d:%d%n", &hours, &minutes, &seconds, &used) != 3 ||
      hours < 0 || minutes < 0 || seconds < 0)
    return 0;
  return int64_t{hours} * 3600 + minutes * 60 + seconds;
}

std::string BuildPageHtml(const PageModel& page) {
  std::string title = page.serverName;
  if (page.path.size() > 1) title += " - " + page.path.back().title;
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" +
      HtmlEscape(title) + "</title>\n<style>" + kStyle + "</style></head>\n<body>\n";
  AppendPath(html, page.path);
  html +=
      "<section id=\"player\" hidden><h2 id=\"now\"></h2><video id=\"video\"></video>\n"
      "<div><button id=\"pause\">pause</button> <button id=\"back\">-10 s</button> "
      "<input id=\"seek\" type=\"range\" min=\"0\" max=\"0\" step=\"1\" value=\"0\"> "
      "<button id=\"forward\">+10 s</button> <span id=\"clock\"></span> "
      "<span id=\"state\"></span></div></section>\n";
  html += "<h2>Folders</h2>\n";
  AppendLinkList(html, "folders", page.folders);
  html +=
      "<h2>Files</h2>\n<p>Each file with the forms the plug-in offers this browser; a browser it "
      "does not serve is presented to it as a PlayStation 3, whose transport stream the player "
      "plays.</p>\n<ul id=\"items\">";
  for (const PageItem& item : page.items) AppendItem(html, item);
  html += "</ul>\n";
  html += "<script src=\"" + HtmlEscape(page.playerScriptUrl) + "\"></script>\n<script>" +
          kPlayerScript + "</script>\n</body></html>\n";
  return html;
}
