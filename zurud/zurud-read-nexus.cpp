#include "zurud/zurud-read.hpp"

namespace zurud::read {

char_mat_access read_nexus_matrix(text_input& in, const cell_options&) {
  throw format_error("NEXUS files are not read yet", in.name());
}

}  // namespace zurud::read
