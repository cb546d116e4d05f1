#pragma once
// Formats a glossary text. Translations are data, so only "%s" (filled in order, an absent argument
// giving an empty text) and "%%" are honoured; any other '%' stays as it is written. A stray "%d" or
// a missing argument in a translation therefore cannot read past the arguments or crash.

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

template <class C>
std::basic_string<C> FormatText(std::basic_string_view<C> format, std::span<const std::basic_string_view<C>> args) {
  std::basic_string<C> out;
  out.reserve(format.size() + 32);
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == C('%') && i + 1 < format.size()) {
      if (format[i + 1] == C('s')) {
        if (next < args.size()) out.append(args[next]);
        ++next;
        ++i;
        continue;
      }
      if (format[i + 1] == C('%')) {
        out.push_back(C('%'));
        ++i;
        continue;
      }
    }
    out.push_back(format[i]);
  }
  return out;
}

template <class C>
std::basic_string<C> FormatText(std::basic_string_view<C> format,
                                std::initializer_list<std::basic_string_view<C>> args = {}) {
  return FormatText<C>(format, std::span<const std::basic_string_view<C>>(args.begin(), args.size()));
}

inline std::string FormatText(std::string_view format, std::initializer_list<std::string_view> args = {}) {
  return FormatText<char>(format, args);
}
inline std::wstring FormatText(std::wstring_view format, std::initializer_list<std::wstring_view> args = {}) {
  return FormatText<wchar_t>(format, args);
}
