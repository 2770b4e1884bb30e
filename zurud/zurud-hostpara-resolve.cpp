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

// What a name stands for among the data file's labels.
struct label_found {
  std::string_view label;
  std::int32_t row = 0;
  bool found = false;
};

// The data file's labels (a taxon map, or the run's index), looked up as
// written, or else with "_" and blank taken as the same character (NEXUS
// reads "_" as a blank; spreadsheets keep blanks). The second index is built
// only when a name first needs it.
class label_matcher {
 public:
  label_matcher(const sets::taxon_maps* taxa, const detail::label_index* index)
      : taxa_(taxa), index_(index) {}

  bool has_labels() const { return taxa_ != nullptr || index_ != nullptr; }

  // The label that `name` stands for, if any. constraint_error when several
  // labels equal it with "_" as blank.
  label_found find(std::string_view name, const table_data& t,
                   std::int64_t line) {
    if (const label_found f = exact(name); f.found) return f;
    if (name.find_first_of("_ ") == std::string_view::npos) return {};
    if (!built_) build();
    const std::string form = blank_form(name);
    const std::uint32_t e = index_of_loose_.find(
        detail::text_hash(form),
        [&](std::uint32_t k) { return loose_form(k) == form; });
    if (e == detail::flat_index::none) return {};
    const loose_entry& l = loose_[e];
    if (l.count > 1) {
      const std::string named = colliding_label(l);
      constraint_error err(
          "associate name equal to several labels",
          quoted(name) + " in " + t.where(line) +
              "several labels of the data file equal it when \"_\" and "
              "blanks are taken as the same, " +
              quoted(named) +
              " among them; write the label "
              "as the data file does");
      err.set_line(line);
      throw err;
    }
    return {l.label, l.row, true};
  }
  bool known(std::string_view name, const table_data& t, std::int64_t line) {
    return find(name, t, line).found;
  }
  // Whether `name` is a label as written.
  bool contains(std::string_view name) const { return exact(name).found; }
  // Whether row `row` is labelled `name` (the run's index only).
  bool is_row(std::int32_t row, std::string_view name) const {
    return index_ != nullptr &&
           row <= static_cast<std::int32_t>(index_->size()) &&
           index_->name(static_cast<std::size_t>(row - 1)) == name;
  }

 private:
  struct loose_entry {
    std::size_t at = 0, size = 0;  // the form, in forms_
    std::string_view label;
    std::int32_t row = 0;
    int count = 0;
  };
  // The label that a collision names: the last of a taxon map's labels of
  // that form, as the map is walked. Without one (the run's index), such a
  // map is made here, on the way to the failure, so that the message names
  // the same label either way.
  std::string colliding_label(const loose_entry& l) const {
    if (taxa_ != nullptr) return std::string(l.label);
    sets::taxon_maps taxa;
    taxa.reserve(index_->size());
    for (std::size_t k = 0; k < index_->size(); ++k)
      taxa.try_emplace(std::string(index_->name(k)),
                       static_cast<std::int32_t>(k + 1));
    const std::string form = blank_form(l.label);
    std::string named;
    for (const auto& [label, row] : taxa)
      if (blank_form(label) == form) named = label;
    return named;
  }
  label_found exact(std::string_view name) const {
    if (taxa_ != nullptr) {
      const auto it = taxa_->find(name);
      if (it == taxa_->end()) return {};
      return {it->first, it->second, true};
    }
    const std::int32_t row = index_->find(name);
    if (row == 0) return {};
    return {index_->name(static_cast<std::size_t>(row - 1)), row, true};
  }
  static std::string blank_form(std::string_view s) {
    std::string b(s);
    std::replace(b.begin(), b.end(), '_', ' ');
    return b;
  }
  std::string_view loose_form(std::uint32_t k) const {
    return std::string_view(forms_).substr(loose_[k].at, loose_[k].size);
  }
  // A label without "_" or blank is its own form, which no name that is not
  // the label itself reaches: only the others are entered.
  void add(std::string_view label, std::int32_t row) {
    if (label.find_first_of("_ ") == std::string_view::npos) return;
    const std::size_t at = forms_.size();
    for (const char c : label) forms_ += c == '_' ? ' ' : c;
    const std::string_view form = std::string_view(forms_).substr(at);
    const auto fresh = static_cast<std::uint32_t>(loose_.size());
    const std::uint32_t e = index_of_loose_.find_or_add(
        detail::text_hash(form), fresh,
        [&](std::uint32_t k) { return loose_form(k) == form; });
    if (e == fresh) {
      loose_.push_back({at, label.size(), label, row, 0});
    } else {
      forms_.resize(at);
      // The map's last label names the collision, as it always has.
      if (taxa_ != nullptr) loose_[e].label = label;
    }
    ++loose_[e].count;
  }
  void build() {
    built_ = true;
    if (taxa_ != nullptr) {
      for (const auto& [label, row] : *taxa_) add(label, row);
    } else {
      for (std::size_t k = 0; k < index_->size(); ++k)
        add(index_->name(k), static_cast<std::int32_t>(k + 1));
    }
  }
  const sets::taxon_maps* taxa_;
  const detail::label_index* index_;
  bool built_ = false;
  std::string forms_;
  std::vector<loose_entry> loose_;
  detail::flat_index index_of_loose_;
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

// Pairs met before, by host and associate: a flat index over the pairs
// resolved so far.
class pair_check {
 public:
  explicit pair_check(const std::vector<detail::resolved_pair>& pairs)
      : pairs_(pairs) {}
  void reserve(std::size_t n) { index_.reserve(n); }
  // Enters the pairs before the last, which are known to differ.
  void enter_all_but_last() {
    for (std::size_t k = 0; k + 1 < pairs_.size(); ++k) enter(k);
  }
  // constraint_error when the last pair of `pairs` was met before.
  void check_last() {
    if (enter(pairs_.size() - 1)) return;
    const detail::resolved_pair& p = pairs_.back();
    constraint_error err(element_in_set_msg,
                         "the pair \"" + std::string(p.para) + " " +
                             std::string(p.host) +
                             "\" occurs twice in the association file");
    err.set_line(p.line);
    throw err;
  }

 private:
  // Whether pair k was entered (false: an equal pair was).
  bool enter(std::size_t k) {
    const detail::resolved_pair& p = pairs_[k];
    const std::uint32_t h = detail::combine_hash(detail::text_hash(p.host),
                                                 detail::text_hash(p.para));
    const auto at = static_cast<std::uint32_t>(k);
    return index_.find_or_add(h, at, [&](std::uint32_t j) {
      return pairs_[j].host == p.host && pairs_[j].para == p.para;
    }) == at;
  }
  const std::vector<detail::resolved_pair>& pairs_;
  detail::flat_index index_;
};

// By host, then associate, as associations order.
bool host_first(const detail::resolved_pair& a,
                const detail::resolved_pair& b) {
  const int c = a.host.compare(b.host);
  return c < 0 || (c == 0 && a.para < b.para);
}

void resolve_with(const table_data& t, label_matcher& m,
                  const assoc_resolve_options& o, text_output& err,
                  resolved_assocs& res,
                  std::vector<detail::resolved_pair>& pairs,
                  std::span<const std::int32_t> known_rows = {}) {
  res.notices = t.notices;
  reading how;
  if (t.shape == assoc_shape::INCIDENCE)
    how.rows_are_associates = rows_name_associates(t, m, o, res.notices);
  else
    how.skip_first = is_header(t, m, res.notices);

  // Names matched loosely, and pairs whose associate the data file lacks
  // (by their index in `pairs`, in file order).
  std::int64_t loose = 0;
  std::string loose_example;
  std::vector<std::size_t> unknown;
  pairs.clear();
  pairs.reserve(t.shape == assoc_shape::INCIDENCE ? t.ones : t.pairs.size());
  pair_check met(pairs);
  // Rows known for the names as read apply to the pairs of words and fields
  // (an incidence matrix is never resolved without labels).
  const bool known = !known_rows.empty() && t.shape != assoc_shape::INCIDENCE &&
                     known_rows.size() == t.pairs.size();
  bool checking = !known;
  if (checking) met.reserve(pairs.capacity());
  each_pair(t, how,
            [&](std::string_view para, std::string_view host,
                std::string_view value, std::int64_t line, std::size_t k) {
              label_found label;
              if (known && known_rows[k] > 0 && m.is_row(known_rows[k], para))
                label = {para, known_rows[k], true};
              else if (m.has_labels())
                label = m.find(para, t, line);
              const bool renamed = label.found && label.label != para;
              if (renamed && loose++ == 0)
                loose_example = quoted(para) + " as " + quoted(label.label);
              pairs.push_back({label.found ? label.label : para, host, value,
                               line, label.row});
              if (!checking && renamed) {
                met.reserve(pairs.capacity());
                met.enter_all_but_last();
                checking = true;
              }
              if (checking) met.check_last();
              if (m.has_labels() && !label.found)
                unknown.push_back(pairs.size() - 1);
            });
  if (t.dangling) ended_mid_pair(t);
  note_extras(t, how, res.notes);
  if (loose > 0)
    res.notices.push_back(
        t.where(0) + plural(loose, "associate name") +
        " matched a label of "
        "the data file only with \"_\" and blanks taken as the same (" +
        loose_example + (loose > 1 ? ", ..." : "") + ")");
  if (unknown.empty()) return;

  if (!o.pass_unknown) {
    // The first in host-then-associate order, as the host map meets it.
    std::size_t first = unknown.front();
    for (const std::size_t u : unknown)
      if (host_first(pairs[u], pairs[first])) first = u;
    const std::string para(pairs[first].para);
    err.put_line("Unknown parasite: " + para);
    std::unordered_set<std::string_view> names;
    for (const std::size_t u : unknown) names.insert(pairs[u].para);
    constraint_error e(
        key_not_in_map_msg,
        quoted(para) + " is in the association file (" + t.name + ", line " +
            std::to_string(pairs[first].line) + ") but not in the data file" +
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
            (m.contains(pairs[first].host)
                 ? "; its host " + quoted(pairs[first].host) +
                       " is a label of the data file: the associate comes "
                       "first on a line, then its host"
                 : std::string()));
    e.set_line(pairs[first].line);
    throw e;
  }

  // Passed over: named in file order, the first few.
  std::vector<std::string_view> names;
  std::unordered_set<std::string_view> seen;
  for (const std::size_t u : unknown)
    if (seen.insert(pairs[u].para).second) names.push_back(pairs[u].para);
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
  // `unknown` ascends: the pairs kept close up in one pass.
  std::size_t to = 0, next = 0;
  for (std::size_t k = 0; k < pairs.size(); ++k) {
    if (next < unknown.size() && unknown[next] == k) {
      ++next;
      continue;
    }
    pairs[to++] = pairs[k];
  }
  pairs.resize(to);
}

}  // namespace

namespace detail {

void label_index::build(const std::vector<std::string>& labels, bool trim) {
  names_.clear();
  names_.reserve(labels.size());
  index_.clear();
  index_.reserve(labels.size());
  for (std::size_t i = 0; i < labels.size(); ++i) {
    std::string_view name = labels[i];
    // PHYLIP names are padded to ten characters; an association file cannot
    // hold the padding, so associates are matched on the names without it.
    if (trim) name = name.substr(0, name.find_last_not_of(' ') + 1);
    names_.push_back(name);
    const auto k = static_cast<std::uint32_t>(i);
    const std::uint32_t e = index_.find_or_add(
        text_hash(name), k, [&](std::uint32_t j) { return names_[j] == name; });
    if (e != k)
      throw constraint_error(key_in_map_msg,
                             "label \"" + labels[i] + "\" occurs in rows " +
                                 std::to_string(e + 1) + " and " +
                                 std::to_string(i + 1));
  }
}

void fill_assocs(const std::vector<resolved_pair>& pairs, bool sources,
                 resolved_assocs& res) {
  // Every pair is new: resolving checked them.
  if (sources) res.sources.reserve(pairs.size());
  for (const resolved_pair& p : pairs) {
    const auto it =
        res.assocs.insert(association{std::string(p.host), std::string(p.para)})
            .first;
    if (sources) res.sources.push_back({it, p.line, std::string(p.value)});
  }
}

void resolve_pairs(const assoc_table& table, const label_index* labels,
                   const assoc_resolve_options& o, text_output& err,
                   resolved_assocs& res, std::vector<resolved_pair>& pairs,
                   std::span<const std::int32_t> known_rows) {
  label_matcher m(nullptr, labels);
  resolve_with(table.data(), m, o, err, res, pairs, known_rows);
}

}  // namespace detail

resolved_assocs resolve_assocs(const assoc_table& table,
                               const sets::taxon_maps* taxa,
                               const assoc_resolve_options& o,
                               text_output& err) {
  resolved_assocs res;
  std::vector<detail::resolved_pair> pairs;
  label_matcher m(taxa, nullptr);
  resolve_with(table.data(), m, o, err, res, pairs);
  detail::fill_assocs(pairs, o.keep_sources, res);
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
