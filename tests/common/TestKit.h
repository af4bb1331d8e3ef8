#pragma once

// What nearly every GoogleTest file of the project needs, in one place.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <tuple>

#include "common/TempTree.h" // strings, vectors and maps too

namespace fs = std::filesystem;
using namespace testing_support;
using namespace std::string_literals;

