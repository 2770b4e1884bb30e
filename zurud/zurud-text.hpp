// General string helpers.
#pragma once
#include "zurud/zurud.hpp"

namespace zurud::text {}  // namespace zurud::text
