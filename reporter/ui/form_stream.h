// The assistant forms' component streams: "TPF0", then one object (class name and object
// name as length-prefixed texts, properties, child objects), as the window framework
// writes them. Property values are kept as text: integers in decimal, Booleans as "True"
// or "False", texts and identifiers as they are.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qx {

struct FormObject {
  std::string className;
  std::string name;
  std::vector<std::pair<std::string, std::string>> properties;
  std::vector<FormObject> children;
};

// Reads a whole stream into `root`. False when the stream is damaged: no "TPF0", a length
// or value running past the end, an unknown value type, nesting deeper than 16 objects,
// or bytes left after the top object.
bool ReadFormStream(std::string_view bytes, FormObject& root);

}  // namespace qx
