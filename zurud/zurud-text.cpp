#include "zurud/zurud-text.hpp"

namespace zurud::text {}  // namespace zurud::text
