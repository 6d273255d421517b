// The tests' common headers, parsed once per test target.
#pragma once

#include "../../Sources/Precompiled.h"

#include <gtest/gtest.h>
