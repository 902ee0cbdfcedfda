#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

// The field splitter of every coordinate reader. One trailing separator is dropped,
// consecutive separators give empty fields, blanks are kept. The fields are written
// into out (out[0] is field 1) as views into line. Only the first maxFields fields are
// kept, so a line of millions of separators costs no more than the fields a reader uses.
void SplitFieldsInto(std::string_view line, char separator, std::vector<std::string_view>& out,
                     size_t maxFields = SIZE_MAX);

// The same as an array whose element 0 holds the field count as decimal text and
// elements 1..n the fields; an empty line gives a single empty element.
std::vector<std::string> SplitFields(std::string_view line, char separator);

}  // namespace kestrova
