// Association tables, second stage: what needs the data file's labels (a
// header row, the orientation of an incidence matrix, names written with
// "_" for blanks, associates the data file lacks), and the associations.
#include <algorithm>
#include <unordered_set>

#include "zurud/detail/assoc-table.hpp"

namespace zurud::hostpara {

using detail::table_data;
using detail::text_ref;

namespace {

std::string quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

std::string plural(std::int64_t n, const std::string& noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

// The data file's labels, looked up as written, or else with "_" and blank
// taken as the same character (NEXUS reads "_" as a blank; spreadsheets keep
// blanks). The second index is built only when a name first needs it.
class label_matcher {
 public:
  explicit label_matcher(const sets::taxon_maps* taxa) : taxa_(taxa) {}

  bool has_labels() const { return taxa_ != nullptr; }

  // The label that `name` stands for, or null. constraint_error when
  // several labels equal it with "_" as blank.
  const std::string* find(std::string_view name, const table_data& t,
                          std::int64_t line) {
    const auto exact = taxa_->find(name);
    if (exact != taxa_->end()) return &exact->first;
    if (name.find_first_of("_ ") == std::string_view::npos) return nullptr;
    if (!built_) build();
    const auto loose = loose_.find(blank_form(name));
    if (loose == loose_.end()) return nullptr;
    if (loose->second.second > 1) {
      constraint_error e(
          "associate name equal to several labels",
          quoted(name) + " in " + t.where(line) +
              "several labels of the data file equal it when \"_\" and "
              "blanks are taken as the same, " +
              quoted(*loose->second.first) +
              " among them; write the label "
              "as the data file does");
      e.set_line(line);
      throw e;
    }
    return loose->second.first;
  }
  bool known(std::string_view name, const table_data& t, std::int64_t line) {
    return find(name, t, line) != nullptr;
  }

 private:
  static std::string blank_form(std::string_view s) {
    std::string b(s);
    std::replace(b.begin(), b.end(), '_', ' ');
    return b;
  }
  void build() {
    built_ = true;
    for (const auto& [label, row] : *taxa_) {
      auto& entry = loose_[blank_form(label)];
      entry.first = &label;
      ++entry.second;
    }
  }
  const sets::taxon_maps* taxa_;
  bool built_ = false;
  std::unordered_map<std::string, std::pair<const std::string*, int>,
                     sets::label_hash, std::equal_to<>>
      loose_;
};

// How the table reads: whether its first pair is a header, and which side
// of an incidence matrix names the associates.
struct reading {
  bool skip_first = false;
  bool rows_are_associates = true;
};

// The first pair is a header when its associate is no label while another
// pair's is: a line that names the columns. Without labels there is no
// header.
bool is_header(const table_data& t, label_matcher& m,
               std::vector<std::string>& notices) {
  if (!m.has_labels() || !t.header_candidate) return false;
  const detail::table_pair& first = t.pairs[0];
  if (m.known(t.text(first.para), t, first.line)) return false;
  for (std::size_t k = 1; k < t.pairs.size(); ++k) {
    const detail::table_pair& p = t.pairs[k];
    if (!m.known(t.text(p.para), t, p.line)) continue;
    notices.push_back(t.where(t.first_line) + "read as a header (" +
                      t.header_text + "), since " + quoted(t.text(first.para)) +
                      " is no label of the data file while " +
                      quoted(t.text(p.para)) + " on line " +
                      std::to_string(p.line) + " is");
    return true;
  }
  return false;
}

[[noreturn]] void unoriented(const table_data& t, const std::string& why,
                             const assoc_resolve_options& o) {
  constraint_error e(
      "incidence matrix without orientation",
      t.where(t.first_line) + "an incidence matrix, but " + why +
          (o.rows_option.empty() ? std::string()
                                 : "; " + o.rows_option + " tells which"));
  e.set_line(t.first_line);
  throw e;
}

// Rows or columns: the side whose labels are more often labels of the data
// file names the associates.
bool rows_name_associates(const table_data& t, label_matcher& m,
                          const assoc_resolve_options& o,
                          std::vector<std::string>& notices) {
  bool rows = o.rows == incidence_rows::ASSOCIATES;
  if (o.rows == incidence_rows::AUTO) {
    if (!m.has_labels())
      unoriented(t,
                 "without the data file's labels nothing tells whether "
                 "its rows or its columns are the associates",
                 o);
    std::size_t r = 0, c = 0;
    for (const auto& row : t.rows) r += m.known(t.text(row.label), t, row.line);
    for (const text_ref col : t.columns)
      c += m.known(t.text(col), t, t.first_line);
    // r / rows against c / columns, without division.
    const std::size_t left = r * t.columns.size(), right = c * t.rows.size();
    if (left == right)
      unoriented(t,
                 plural(static_cast<std::int64_t>(r), "row label") + " of " +
                     std::to_string(t.rows.size()) + " and " +
                     plural(static_cast<std::int64_t>(c), "column label") +
                     " of " + std::to_string(t.columns.size()) +
                     " are labels of the data file, so neither side is "
                     "told to be the associates",
                 o);
    rows = left > right;
  }
  const std::int64_t nr = static_cast<std::int64_t>(t.rows.size());
  const std::int64_t nc = static_cast<std::int64_t>(t.columns.size());
  notices.push_back(
      t.where(t.first_line) +
      "read as an incidence matrix: " + plural(rows ? nr : nc, "associate") +
      " (" + (rows ? "rows" : "columns") + ") by " +
      plural(rows ? nc : nr, "host") + " (" + (rows ? "columns" : "rows") +
      "), the first line naming the columns; each of the " +
      plural(static_cast<std::int64_t>(t.ones), "cell") +
      (t.abundances ? " holding a number above 0" : " holding 1") +
      " is a pair");
  return rows;
}

// Every pair of the table in file order, as f(para, host, value, line,
// index): index counts the table's pairs, the header included.
template <typename F>
void each_pair(const table_data& t, const reading& how, F f) {
  if (t.shape == assoc_shape::INCIDENCE) {
    for (const detail::incidence_row& row : t.rows)
      for (std::size_t k = 0; k < t.columns.size(); ++k) {
        const std::uint32_t code = t.cells[row.first_cell + k];
        if (!t.cell_ones[code]) continue;
        const std::string_view a = t.text(row.label), b = t.text(t.columns[k]);
        f(how.rows_are_associates ? a : b, how.rows_are_associates ? b : a,
          std::string_view(t.cell_texts[code]), row.line, std::size_t{0});
      }
    return;
  }
  for (std::size_t k = how.skip_first ? 1 : 0; k < t.pairs.size(); ++k) {
    const detail::table_pair& p = t.pairs[k];
    f(t.text(p.para), t.text(p.host), t.text(p.value), p.line, k);
  }
}

// Further words after the pairs, as the plain reader has always noted them.
void note_extras(const table_data& t, const reading& how, assoc_notes& n) {
  if (t.shape == assoc_shape::INCIDENCE) return;
  for (std::size_t k = how.skip_first ? 1 : 0; k < t.pairs.size(); ++k) {
    if (!t.pairs[k].extra) continue;
    if (n.extra_words_lines++ > 0) continue;
    n.extra_words_line = t.pairs[k].line;
    for (std::size_t j = 0; j < t.extra_kept; ++j)
      if (t.extra_pair[j] == k) n.extra_words = t.extra_text[j];
  }
}

[[noreturn]] void ended_mid_pair(const table_data& t) {
  end_of_file_error e("input ended where a character was expected",
                      "the association file ended in the middle of a pair, "
                      "after associate " +
                          quoted(t.text(t.dangling_para)));
  e.set_line(t.dangling_line);
  throw e;
}

template <typename Set>
typename Set::iterator insert_pair(Set& set, std::string_view para,
                                   std::string_view host, std::int64_t line) {
  auto [it, fresh] =
      set.insert(association{std::string(host), std::string(para)});
  if (!fresh) {
    constraint_error e(element_in_set_msg,
                       "the pair \"" + std::string(para) + " " +
                           std::string(host) +
                           "\" occurs twice in the association file");
    e.set_line(line);
    throw e;
  }
  return it;
}

// The pairs as read, into any set: read_assoc's road, without labels.
template <typename Set>
void fill_plain(Set& set, const assoc_table& table, assoc_notes* notes) {
  const table_data& t = table.data();
  if (t.shape == assoc_shape::INCIDENCE)
    unoriented(t,
               "without the data file's labels nothing tells whether "
               "its rows or its columns are the associates",
               {});
  const reading how;
  each_pair(t, how,
            [&](std::string_view para, std::string_view host, std::string_view,
                std::int64_t line,
                std::size_t) { insert_pair(set, para, host, line); });
  if (t.dangling) ended_mid_pair(t);
  if (notes != nullptr) note_extras(t, how, *notes);
}

}  // namespace

resolved_assocs resolve_assocs(const assoc_table& table,
                               const sets::taxon_maps* taxa,
                               const assoc_resolve_options& o,
                               text_output& err) {
  const table_data& t = table.data();
  resolved_assocs res;
  res.notices = t.notices;
  label_matcher m(taxa);
  reading how;
  if (t.shape == assoc_shape::INCIDENCE)
    how.rows_are_associates = rows_name_associates(t, m, o, res.notices);
  else
    how.skip_first = is_header(t, m, res.notices);

  // Names matched loosely, and pairs whose associate the data file lacks
  // (with their lines, to name the first).
  std::int64_t loose = 0;
  std::string loose_example;
  std::vector<std::pair<ordered_assocs::iterator, std::int64_t>> unknown;
  each_pair(t, how,
            [&](std::string_view para, std::string_view host,
                std::string_view value, std::int64_t line, std::size_t) {
              const std::string* label =
                  m.has_labels() ? m.find(para, t, line) : nullptr;
              if (label != nullptr && *label != para && loose++ == 0)
                loose_example = quoted(para) + " as " + quoted(*label);
              const auto it = insert_pair(
                  res.assocs, label != nullptr ? *label : para, host, line);
              if (m.has_labels() && label == nullptr)
                unknown.emplace_back(it, line);
              if (o.keep_sources)
                res.sources.push_back({it, line, std::string(value)});
            });
  if (t.dangling) ended_mid_pair(t);
  note_extras(t, how, res.notes);
  if (loose > 0)
    res.notices.push_back(
        t.where(0) + plural(loose, "associate name") +
        " matched a label of "
        "the data file only with \"_\" and blanks taken as the same (" +
        loose_example + (loose > 1 ? ", ..." : "") + ")");
  if (unknown.empty()) return res;

  if (!o.pass_unknown) {
    // The first in host-then-associate order, as the host map meets it.
    auto first = unknown.front();
    for (const auto& u : unknown)
      if (*u.first < *first.first) first = u;
    const std::string& para = first.first->para;
    err.put_line("Unknown parasite: " + para);
    std::unordered_set<std::string_view> names;
    for (const auto& u : unknown) names.insert(u.first->para);
    constraint_error e(
        key_not_in_map_msg,
        quoted(para) + " is in the association file (" + t.name + ", line " +
            std::to_string(first.second) + ") but not in the data file" +
            (names.size() == 2 ? ", nor is one more associate"
             : names.size() > 2
                 ? ", nor are " +
                       plural(static_cast<std::int64_t>(names.size() - 1),
                              "more associate")
                 : std::string()) +
            (o.pass_unknown_option.empty()
                 ? std::string()
                 : "; " + o.pass_unknown_option +
                       " passes over associates that the data file lacks") +
            (taxa->contains(first.first->host)
                 ? "; its host " + quoted(first.first->host) +
                       " is a label of the data file: the associate comes "
                       "first on a line, then its host"
                 : std::string()));
    e.set_line(first.second);
    throw e;
  }

  // Passed over: named in file order, the first few.
  std::vector<std::string_view> names;
  std::unordered_set<std::string_view> seen;
  std::sort(unknown.begin(), unknown.end(),
            [](const auto& a, const auto& b) { return a.second < b.second; });
  for (const auto& u : unknown)
    if (seen.insert(u.first->para).second) names.push_back(u.first->para);
  std::string shown;
  for (std::size_t k = 0; k < names.size() && k < 5; ++k)
    shown += (k > 0 ? ", " : "") + quoted(names[k]);
  if (names.size() > 5) shown += ", ...";
  res.unknown_pairs = static_cast<std::int64_t>(unknown.size());
  res.notices.push_back(
      t.where(0) +
      plural(static_cast<std::int64_t>(names.size()), "associate") +
      " not in the data file " + (names.size() == 1 ? "was" : "were") +
      " passed over (" + o.pass_unknown_option + "), in " +
      plural(res.unknown_pairs, "pair") + ": " + shown);
  if (o.keep_sources)
    std::erase_if(res.sources, [&](const assoc_source& s) {
      return !taxa->contains(s.pair->para);
    });
  for (const auto& u : unknown) res.assocs.erase(u.first);
  return res;
}

// The plain readers are the table reader without labels: every shape but
// an incidence matrix reads without them.
void read_assoc(read::text_input& in, ordered_assocs& set, assoc_notes* notes) {
  fill_plain(set, read_assoc_table(in), notes);
}

void read_assoc(read::text_input& in, assoc_sets& set, assoc_notes* notes) {
  fill_plain(set, read_assoc_table(in), notes);
}

}  // namespace zurud::hostpara
