#include "coords/split_fields.h"

namespace kestrova {

void SplitFieldsInto(std::string_view line, char separator, std::vector<std::string_view>& out,
                     size_t maxFields) {
  out.clear();
  if (line.empty() || maxFields == 0) return;
  // The separators in use (comma, tab, space) are below 0x40 and so never the trail
  // byte of a double-byte character: a byte search is a character search here.
  std::string_view rest = line;
  for (;;) {
    const size_t pos = rest.find(separator);
    if (pos == std::string_view::npos || pos + 1 == rest.size()) break;
    out.push_back(rest.substr(0, pos));
    if (out.size() == maxFields) return;
    rest.remove_prefix(pos + 1);
  }
  if (!rest.empty() && rest.back() == separator) rest.remove_suffix(1);
  out.push_back(rest);
}

std::vector<std::string> SplitFields(std::string_view line, char separator) {
  if (line.empty()) return {std::string()};
  std::vector<std::string_view> fields;
  SplitFieldsInto(line, separator, fields);
  std::vector<std::string> result;
  result.reserve(fields.size() + 1);
  result.push_back(std::to_string(fields.size()));
  for (std::string_view f : fields)
    result.emplace_back(f);
  return result;
}

}  // namespace kestrova
