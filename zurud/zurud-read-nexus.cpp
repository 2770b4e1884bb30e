#include "zurud/zurud-read.hpp"

namespace zurud::read {}  // namespace zurud::read
