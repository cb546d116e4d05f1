#include "mac/platform/window_picture.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace mac {

namespace {

constexpr std::string_view kHeader = "zt-mac-screen 1";

void Collect(const View& view, Point origin, std::vector<PictureElement>& out) {
  if (view.isHidden()) return;
  const Rect frame{{origin.x + view.frame().origin.x, origin.y + view.frame().origin.y}, view.frame().size};
  PictureElement e;
  e.frame = frame;
  if (const auto* text = dynamic_cast<const TextField*>(&view)) {
    e.kind = PictureElement::Kind::Text;
    e.text = text->stringValue();
    out.push_back(std::move(e));
  } else if (const auto* button = dynamic_cast<const Button*>(&view)) {
    e.kind = PictureElement::Kind::Button;
    e.text = button->title();
    e.enabled = button->isEnabled();
    e.isDefault = button->keyEquivalent() == "\r";
    out.push_back(std::move(e));
  } else if (const auto* image = dynamic_cast<const ImageView*>(&view)) {
    if (image->image()) {
      e.kind = PictureElement::Kind::Image;
      e.file = image->image()->file;
      out.push_back(std::move(e));
    }
  } else if (const auto* bar = dynamic_cast<const ProgressIndicator*>(&view)) {
    e.kind = PictureElement::Kind::Progress;
    e.indeterminate = bar->isIndeterminate();
    e.percent = e.indeterminate ? 0 : bar->percent();
    out.push_back(std::move(e));
  }
  for (const View* child : view.subviews()) Collect(*child, frame.origin, out);
}

struct Front {
  const Window* window = nullptr;
  const Window* over = nullptr;
};

Front FrontWindows(const Application& application) {
  Front front;
  const Window* alert = nullptr;
  for (const Window* w : application.windows()) {
    if (!w->isVisible() || w->sheetParent()) continue;
    const Window*& slot = w->isAlertPanel() ? alert : front.window;
    if (!slot || w->shownOrder() > slot->shownOrder()) slot = w;
  }
  if (!front.window) {
    front.window = alert;
    return front;
  }
  const Window* sheet = front.window->attachedSheet();
  front.over = sheet && sheet->isVisible() ? sheet : alert;
  return front;
}

WindowPicture::Kind KindOf(const Window& w) {
  if (w.isAlertPanel()) return WindowPicture::Kind::Alert;
  return w.sheetParent() ? WindowPicture::Kind::Sheet : WindowPicture::Kind::Window;
}

// ---- the file ----

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else if (c == '"' || c == '\\') (out += '\\') += c;
    else out += c;
  }
  return out + '"';
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string RectText(const Rect& r) {
  return Number(r.origin.x) + " " + Number(r.origin.y) + " " + Number(r.size.width) + " " + Number(r.size.height);
}

struct Token {
  std::string text;
  bool quoted = false;
};

bool Tokens(std::string_view line, std::vector<Token>& out, std::string& error) {
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ') {
      ++i;
    } else if (line[i] == '"') {
      Token t{{}, true};
      bool closed = false;
      for (++i; i < line.size();) {
        const char c = line[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c != '\\') {
          t.text += c;
          continue;
        }
        const char e = i < line.size() ? line[i++] : '\0';
        if (e == 'n') t.text += '\n';
        else if (e == 't') t.text += '\t';
        else if (e == '"' || e == '\\') t.text += e;
        else return error = "a text with an unknown escape", false;
      }
      if (!closed) return error = "a text without its closing quote", false;
      out.push_back(std::move(t));
    } else {
      const size_t end = std::min(line.find(' ', i), line.size());
      out.push_back(Token{std::string(line.substr(i, end - i)), false});
      i = end;
    }
  }
  return true;
}

bool ToNumber(const Token& t, double& value) {
  if (t.quoted) return false;
  const auto [end, ec] = std::from_chars(t.text.data(), t.text.data() + t.text.size(), value);
  return ec == std::errc() && end == t.text.data() + t.text.size() && std::isfinite(value);
}

bool ToRect(const std::vector<Token>& t, size_t at, Rect& r) {
  return t.size() >= at + 4 && ToNumber(t[at], r.origin.x) && ToNumber(t[at + 1], r.origin.y) &&
         ToNumber(t[at + 2], r.size.width) && ToNumber(t[at + 3], r.size.height) && r.size.width >= 0 &&
         r.size.height >= 0;
}

bool Flag(const Token& t, std::string_view yes, std::string_view no, bool& value) {
  if (t.quoted || (t.text != yes && t.text != no)) return false;
  value = t.text == yes;
  return true;
}

// One line of the file into `picture`; an error message when it cannot be read.
std::string ReadLine(const std::vector<Token>& t, ScreenPicture& picture, int& windows) {
  const std::string name = t[0].quoted ? std::string() : t[0].text;
  if (name == "window" || name == "sheet" || name == "alert") {
    if (windows == 2) return "a third window";
    WindowPicture w;
    w.kind = name == "window" ? WindowPicture::Kind::Window : name == "sheet" ? WindowPicture::Kind::Sheet : WindowPicture::Kind::Alert;
    if (t.size() != 5 || !ToNumber(t[1], w.size.width) || !ToNumber(t[2], w.size.height) ||
        !Flag(t[3], "closable", "unclosable", w.closable) || !t[4].quoted) {
      return name + " W H closable|unclosable \"TITLE\" was expected";
    }
    w.title = t[4].text;
    if (windows++ == 0) picture.window = std::move(w);
    else picture.over = std::move(w);
    return {};
  }
  if (windows == 0) return "an element before its window";
  WindowPicture& w = picture.over ? *picture.over : picture.window;
  PictureElement e;
  if (name == "text" && t.size() == 6 && ToRect(t, 1, e.frame) && t[5].quoted) {
    e.kind = PictureElement::Kind::Text;
    e.text = t[5].text;
  } else if (name == "button" && t.size() == 8 && ToRect(t, 1, e.frame) && Flag(t[5], "enabled", "disabled", e.enabled) &&
             Flag(t[6], "default", "plain", e.isDefault) && t[7].quoted) {
    e.kind = PictureElement::Kind::Button;
    e.text = t[7].text;
  } else if (name == "image" && t.size() == 6 && ToRect(t, 1, e.frame) && t[5].quoted) {
    e.kind = PictureElement::Kind::Image;
    e.file = t[5].text;
  } else if (name == "progress" && t.size() == 6 && ToRect(t, 1, e.frame)) {
    e.kind = PictureElement::Kind::Progress;
    e.indeterminate = !t[5].quoted && t[5].text == "running";
    if (!e.indeterminate && (!ToNumber(t[5], e.percent) || e.percent < 0 || e.percent > 100)) {
      return "progress X Y W H takes a share from 0 to 100, or running";
    }
  } else {
    return "\"" + name + "\" with these values is no element";
  }
  w.elements.push_back(std::move(e));
  return {};
}

}  // namespace

WindowPicture PictureOfWindow(const Window& window) {
  WindowPicture picture;
  picture.kind = KindOf(window);
  picture.title = window.title();
  picture.size = window.frame().size;
  picture.closable = window.standardWindowButton(WindowButton::Close).isEnabled();
  Collect(window.contentView(), Point{}, picture.elements);
  return picture;
}

std::optional<ScreenPicture> PictureOfScreen(const Application& application) {
  const Front front = FrontWindows(application);
  if (!front.window) return std::nullopt;
  ScreenPicture picture{PictureOfWindow(*front.window), std::nullopt};
  if (front.over) picture.over = PictureOfWindow(*front.over);
  return picture;
}

std::vector<std::string> DescribeScreen(const Application& application) {
  const Front front = FrontWindows(application);
  std::vector<std::string> lines;
  for (const Window* w : {front.window, front.over}) {
    if (!w) continue;
    const WindowPicture::Kind kind = KindOf(*w);
    lines.push_back(std::string(kind == WindowPicture::Kind::Alert ? "alert " : kind == WindowPicture::Kind::Sheet ? "sheet " : "window ") +
                    w->label());
    for (std::string& line : w->describe()) lines.push_back("  " + std::move(line));
  }
  return lines;
}

std::string WriteScreenPicture(const ScreenPicture& picture) {
  std::string out = std::string(kHeader) + "\n";
  for (const WindowPicture* w : {&picture.window, picture.over ? &*picture.over : nullptr}) {
    if (!w) continue;
    out += w->kind == WindowPicture::Kind::Window ? "window " : w->kind == WindowPicture::Kind::Sheet ? "sheet " : "alert ";
    out += Number(w->size.width) + " " + Number(w->size.height) + (w->closable ? " closable " : " unclosable ") +
           Quote(w->title) + "\n";
    for (const PictureElement& e : w->elements) {
      switch (e.kind) {
        case PictureElement::Kind::Text: out += "text " + RectText(e.frame) + " " + Quote(e.text); break;
        case PictureElement::Kind::Button:
          out += "button " + RectText(e.frame) + (e.enabled ? " enabled" : " disabled") + (e.isDefault ? " default " : " plain ") +
                 Quote(e.text);
          break;
        case PictureElement::Kind::Image: out += "image " + RectText(e.frame) + " " + Quote(e.file); break;
        case PictureElement::Kind::Progress:
          out += "progress " + RectText(e.frame) + " " + (e.indeterminate ? std::string("running") : Number(e.percent));
          break;
      }
      out += "\n";
    }
  }
  return out;
}

std::optional<ScreenPicture> ReadScreenPicture(std::string_view text, std::string& error) {
  ScreenPicture picture;
  int windows = 0;
  int number = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = std::min(text.find('\n', pos), text.size());
    const std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    ++number;
    if (number == 1) {
      if (line != kHeader) {
        error = "line 1: not a picture of a window (\"" + std::string(kHeader) + "\" was expected)";
        return std::nullopt;
      }
      continue;
    }
    std::vector<Token> tokens;
    std::string why;
    if (Tokens(line, tokens, why) && !tokens.empty()) why = ReadLine(tokens, picture, windows);
    if (!why.empty()) {
      error = "line " + std::to_string(number) + ": " + why;
      return std::nullopt;
    }
  }
  if (windows == 0) {
    error = number == 0 ? "the file is empty" : "no window in the file";
    return std::nullopt;
  }
  return picture;
}

}  // namespace mac
