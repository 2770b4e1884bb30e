// Groups three associates by host and writes the hosts' consensus, through
// the installed headers and library only.
#include <cstdio>
#include <memory>

#include "zurud/zurud-hostpara.hpp"
#include "zurud/zurud-print.hpp"
#include "zurud/zurud-read.hpp"
#include "zurud/zurud-sets.hpp"
#include "zurud/zurud.hpp"

int main() {
  try {
    zurud::read::text_input data{" 3 4\n"
                                 "p1 acgt\n"
                                 "p2 aggt\n"
                                 "p3 ACGA\n"};
    const auto h = zurud::read::read_header(data);
    zurud::char_mat_type chars(h.ntax, h.nchar, zurud::matrix_type::DISCR);
    zurud::read::read_char_mat(data, zurud::char_format_type::EXTENDED_PHYLIP,
                               chars);
    zurud::print::convert_chars(chars, zurud::lower_case_map);

    zurud::sets::taxon_maps taxa;
    zurud::sets::to_taxon_map(chars.labels, taxa);
    zurud::read::text_input pairs{"p1 Mus\n"
                                  "p2 Mus\n"
                                  "p3 Rattus\n"};
    zurud::hostpara::ordered_assocs assocs;
    zurud::hostpara::read_assoc(pairs, assocs);
    zurud::hostpara::numeric_host_maps hosts;
    zurud::hostpara::to_numeric_host_map(hosts, assocs, taxa);

    zurud::char_mat_type consensus(static_cast<std::int32_t>(hosts.size()),
                                   h.nchar, zurud::matrix_type::DISCR);
    zurud::hostpara::get_group_chars(consensus, chars, hosts, zurud::nuc_set,
                                     false);
    zurud::print::print_char_mat(consensus,
                                 zurud::char_format_type::EXTENDED_PHYLIP);
    zurud::standard_output().flush();
  } catch (const zurud::error& e) {
    std::fprintf(stderr, "consumer: %s: %s\n", e.kind(), e.what());
    return 1;
  }
  return 0;
}
