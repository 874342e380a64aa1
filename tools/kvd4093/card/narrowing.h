// What reaches the card of an ADPara record: the library sends each field
// narrowed to the bits the card takes (InputRange 99 as 3, LastChannel 300
// as 44) and rejects nothing. The tool sends the record as given, as the
// library would, and says which fields will be narrowed.
#pragma once

#include <string>
#include <vector>

#include "KVD4093.h"

namespace kvd::tool {

// One line for each field whose value will not reach the card as given,
// naming the value that will, e.g.
//   "InputRange 99 reaches the card as 3 (2 bits)".
std::vector<std::string> narrowedFields(const ADPara &para);

} // namespace kvd::tool
