#include "convert/symbol_names.h"

#include <cstring>

namespace {

char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

void illegal_dos(char* name) {
  static const char* const devices[] = {"CON", "PRN", "AUX", "COM1", "COM2", "prn"};
  for (const char* d : devices) {
    if (std::strcmp(name, d) == 0) {
      std::strcat(name, "_");
      break;
    }
  }
  char* first_dot = std::strchr(name, '.');
  if (first_dot && std::strchr(first_dot + 1, '.')) *first_dot = '`';
  char* blank = std::strchr(name, ' ');
  if (blank) {
    if (blank == name)
      *blank = '`';
    else
      *blank = '\0';
  }
}

void fix_hypermart_names(char* name) {
  char* out = name;
  for (const char* in = name; *in; ++in) {
    char c = *in;
    if (c == ' ') continue;
    if (c == '/') c = '-';
    *out++ = lower(c);
  }
  *out = '\0';
  if (name[0] == '7' || name[0] == '8') {
    std::size_t n = 1;
    while (is_letter(name[n])) ++n;
    std::memmove(name, name + 1, n - 1);
    name[n - 1] = '\0';
  }
}

std::string symbol_to_name(std::string_view field, char sep) {
  std::size_t end = 0;
  while (end < field.size() && field[end] != sep && field[end] != '\0') ++end;
  // The room for the "_" that illegal_dos may append comes with the copy.
  std::string buf(end + 2, '\0');
  for (std::size_t i = 0; i < end; ++i) buf[i] = lower(field[i]);
  illegal_dos(buf.data());
  fix_hypermart_names(buf.data());
  buf.resize(std::strlen(buf.c_str()));
  if (buf.size() > kMaxSymbol) buf.resize(kMaxSymbol);
  // A leading '.' would hide the chart and could make it look like one of
  // the store's temporary files (".morva-..."), which are cleared away.
  if (!buf.empty() && buf[0] == '.') buf[0] = '_';
  return buf;
}

std::string storage_dir(std::string_view textname, std::string_view chartname) {
  std::size_t slash = textname.rfind('/');
  std::string_view base = slash == std::string_view::npos ? textname : textname.substr(slash + 1);
  std::string_view first = chartname.substr(0, chartname.empty() ? 0 : 1);
  std::size_t dot = base.find('.');
  if (dot == std::string_view::npos) return std::string(first);
  std::string ext;
  for (std::size_t i = dot + 1; i < base.size() && ext.size() < 3; ++i) ext += lower(base[i]);
  std::string dir = ext == "prn" ? std::string("stk") : ext;
  dir += '_';
  dir += first;
  return dir;
}
