// The sources and their abilities as the JSON document a client asks for with
// message 0x8003: {"sources":[{"name":...,"inputs":[...],...}]}.
#pragma once

#include <string>
#include <vector>

struct SourceAbilities;

namespace velomark {

std::string SourcesJson(const std::vector<SourceAbilities>& sources);

}  // namespace velomark
