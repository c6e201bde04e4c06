// The expectation file a replay is judged by with --expect, and writes with --accept: per pass
// and ped (its handle), the accuracies the plug-in is expected to set.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "world.h"

namespace sim {

// An expectation file: "pass P ped H: V, V" lines under "#" lines, by pass.
using Expectation = std::map<std::uint64_t, std::vector<std::pair<Entity, std::int32_t>>>;

// Empty, or the first line that is not an expectation's, named.
std::string parseExpectation(const std::string& bytes, Expectation& expectation);

// The expectation file's bytes, or what kept them from being read. A missing file is no fault
// when it is to be written anyway.
std::string readExpectation(const std::string& path, bool missingIsEmpty, std::string& bytes);

}  // namespace sim
