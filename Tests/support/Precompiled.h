// The tests' common headers, parsed once for all test programs.
#pragma once

#include "../../Sources/Precompiled.h"

#include <gtest/gtest.h>
