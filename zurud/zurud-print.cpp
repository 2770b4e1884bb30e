#include "zurud/zurud-print.hpp"

namespace zurud::print {}  // namespace zurud::print
