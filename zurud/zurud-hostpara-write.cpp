// The host matrix, computed and written a stretch of a row at a time, by one
// thread or several.
#include <algorithm>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "zurud/detail/hostpara-tidy.hpp"
#include "zurud/detail/hostpara-weights.hpp"
#include "zurud/zurud-hostpara.hpp"
#include "zurud/zurud-print.hpp"

namespace zurud::hostpara {

namespace {


// Sites of one piece of work. A piece of a frequency row is at most 8192 x
// 5 cells, about 0.5 MB of text, so a window of pieces in flight stays a
// few megabytes whatever the shape of the matrix.
constexpr std::size_t piece_sites = 8192;
// Pieces formatted ahead of the writer, at most.
constexpr std::size_t max_window = 16;
// More threads than this only cost memory.
constexpr std::size_t max_threads = 256;

struct host_ref {
  const std::string* label;
  const sets::ordered_tax_nos* group;
  std::string comment;  // the row comment; of the tidy table, a line's start
};

// The run's pieces: every host row cut into stretches of piece_sites sites
// (one piece for a group size), numbered row by row.
struct plan_type {
  explicit plan_type(const host_matrix_job& s)
      : job(s),
        rule(group_engine::make_rule(s.analysis, s.chars.count())),
        nchar(static_cast<std::size_t>(s.chars.nchar())),
        pieces_per_row(s.analysis.cell_type() == matrix_type::CNTCH && !s.tidy
                           ? 1
                           : (nchar + piece_sites - 1) / piece_sites) {
    tax_lab_type labels(static_cast<std::int32_t>(s.hosts.size()));
    std::int32_t i = 0;
    for (const auto& [label, group] : s.hosts) {
      labels(++i) = label;
      // A line of the tidy table starts with the label and the group size.
      hosts.push_back(
          {&label, &group,
           s.tidy ? detail::tidy_formatter::line_start(label, group.size())
           : s.analysis.has_row_comments()
               ? integer_image(static_cast<std::int64_t>(group.size()))
               : std::string()});
    }
    if (s.weights != nullptr && s.weights->size() != s.hosts.size())
      throw constraint_error("index check failed",
                             "weights of " + std::to_string(s.weights->size()) +
                                 " hosts for " +
                                 std::to_string(s.hosts.size()));
    if (!s.tidy) width = print::label_width(labels, s.layout);
    pieces = hosts.size() * pieces_per_row;
  }
  const host_matrix_job& job;
  group_engine::shared_rule rule;
  std::size_t nchar;
  std::size_t pieces_per_row;
  std::vector<host_ref> hosts;
  std::size_t width = 0;
  std::size_t pieces = 0;
};

// One thread's engine, writer and cell memory.
class piece_formatter {
 public:
  explicit piece_formatter(const plan_type& plan)
      : plan_(plan),
        engine_(plan.job.analysis, plan.job.chars, plan.rule),
        writer_(plan.job.layout, plan.job.analysis.cell_type(), plan.width,
                true, plan.job.analysis.alphabet()),
        polymorphic_(plan.job.analysis.alphabet().writes_polymorphisms()) {
    if (polymorphic_) cells_.resize(piece_sites);
    // Weighted groups weigh their states instead; a group size is still
    // the number of associates.
    if (plan.job.weights != nullptr &&
        plan.job.analysis.cell_type() != matrix_type::CNTCH)
      weighted_ = std::make_unique<detail::weighted_engine>(plan.job.analysis,
                                                            plan.job.chars);
    if (plan.job.tidy) {
      if (weighted_) return;
      tidy_ = std::make_unique<detail::tidy_formatter>(plan.job.analysis,
                                                       plan.job.chars.count());
      counts_.resize(piece_sites * static_cast<std::size_t>(
                                       plan.job.analysis.valid_states().size()));
    } else if (plan.job.analysis.cell_type() == matrix_type::QUANT) {
      reals_.resize(piece_sites * static_cast<std::size_t>(
                                      plan.job.analysis.columns_per_site()));
    }
  }

  // Appends the text of piece p to `out`.
  void format(std::size_t p, text_output& out) {
    const std::size_t h = p / plan_.pieces_per_row;
    const std::size_t b = p % plan_.pieces_per_row;
    const host_ref& host = plan_.hosts[h];
    if (h != selected_) {
      if (weighted_)
        weighted_->select(*host.group, (*plan_.job.weights)[h]);
      else
        engine_.select(*host.group);
      selected_ = h;
    }
    const std::size_t folded =
        plan_.job.fold_hosts != nullptr ? (*plan_.job.fold_hosts)[h] : h;
    const std::size_t first = b * piece_sites;
    const std::size_t count = std::min(piece_sites, plan_.nchar - first);
    if (weighted_ && plan_.job.tidy) {
      weighted_->put_tidy_lines(out, host.comment, first, count);
      return;
    }
    if (tidy_) {
      // Counts of a stretch that stay in the first-level cache while its
      // lines are made.
      constexpr std::size_t stretch = 1024;
      for (std::size_t done = 0; done < count; done += stretch) {
        const std::size_t n = std::min(stretch, count - done);
        if (plan_.job.folds != nullptr)
          plan_.job.folds->count_states(folded, first + done, n,
                                        counts_.data());
        else
          engine_.count_states(first + done, n, counts_.data());
        tidy_->put_lines(out, host.comment, first + done, n, counts_.data());
      }
      return;
    }
    if (b == 0) writer_.put_row_start(out, *host.label, host.comment);
    switch (plan_.job.analysis.cell_type()) {
      case matrix_type::DISCR: {
        if (polymorphic_) {
          // Standard characters: a code of several states is written as a
          // polymorphism where the layout can hold one.
          polymorphisms_.clear();
          if (weighted_)
            weighted_->compute(first, count, cells_.data(), nullptr,
                               &polymorphisms_);
          else if (plan_.job.folds != nullptr)
            engine_.compute(*plan_.job.folds, folded, first, count,
                            cells_.data(), polymorphisms_);
          else
            engine_.compute(first, count, cells_.data(), polymorphisms_);
          writer_.put_cells(out, cells_.data(), count, polymorphisms_);
          break;
        }
        // The cells are their own text: computed straight into the output.
        char* cells = out.reserve(count);
        if (weighted_)
          weighted_->compute(first, count, cells, nullptr, nullptr);
        else if (plan_.job.folds != nullptr)
          engine_.compute(*plan_.job.folds, folded, first, count, cells);
        else
          engine_.compute(first, count, cells);
        out.commit(count);
        break;
      }
      case matrix_type::QUANT: {
        if (weighted_)
          weighted_->compute(first, count, nullptr, reals_.data(), nullptr);
        else if (plan_.job.folds != nullptr)
          engine_.compute(*plan_.job.folds, folded, first, count,
                          reals_.data());
        else
          engine_.compute(first, count, reals_.data());
        writer_.put_cells(out, reals_.data(),
                          count * static_cast<std::size_t>(
                                      plan_.job.analysis.columns_per_site()));
        break;
      }
      case matrix_type::CNTCH: {
        std::int32_t size = 0;
        engine_.compute(0, 1, &size);
        writer_.put_cells(out, &size, 1);
        break;
      }
    }
    if (b + 1 == plan_.pieces_per_row) writer_.put_row_end(out, host.comment);
  }

 private:
  const plan_type& plan_;
  group_engine engine_;
  print::char_mat_writer writer_;
  bool polymorphic_;
  std::vector<float> reals_;
  std::vector<char> cells_;
  std::vector<polymorphic_cell> polymorphisms_;
  std::unique_ptr<detail::tidy_formatter> tidy_;
  std::unique_ptr<detail::weighted_engine> weighted_;
  std::vector<std::uint32_t> counts_;
  std::size_t selected_ = static_cast<std::size_t>(-1);

 public:
  std::int64_t missing_polymorphisms() const noexcept {
    return writer_.missing_polymorphisms();
  }
};

// Pieces formatted by worker threads into a ring of in-memory outputs and
// written in order by the calling thread. A piece is taken only when its
// slot in the ring has been written out, so at most `window` pieces exist at
// a time. The calling thread is one of the formatters: the next piece to
// write, when no worker has taken it yet, it formats straight into the
// output (no copy); while the next piece is still being formatted, it takes
// one further ahead.
class parallel_writer {
 public:
  parallel_writer(const plan_type& plan, std::size_t threads)
      : plan_(plan),
        window_(std::clamp<std::size_t>(2 * threads, 2, max_window)) {
    for (std::size_t w = 0; w < window_; ++w)
      slots_.push_back(std::make_unique<slot>());
    // Made here, so that a failure to make one is the caller's. The first
    // is the calling thread's; when memory runs short for the others, fewer
    // threads do the work.
    for (std::size_t t = 0; t < threads; ++t) {
      try {
        formatters_.push_back(std::make_unique<piece_formatter>(plan));
      } catch (const std::bad_alloc&) {
        if (t == 0) throw;
        break;
      }
    }
  }

  // Stops the workers and waits for them, on success and failure alike.
  ~parallel_writer() {
    {
      const std::lock_guard lock(mutex_);
      stop_ = true;
    }
    room_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

  // Writes every piece in order; returns the number of threads that did
  // the work, the calling one included.
  std::size_t run(text_output& out) {
    // A thread the system will not start (a limit on memory or processes)
    // leaves its pieces to the threads that did start: the output is the
    // same whichever thread formats a piece.
    for (std::size_t t = 1; t < formatters_.size(); ++t) {
      try {
        threads_.emplace_back([this, fp = formatters_[t].get()] { work(*fp); });
      } catch (const std::system_error&) {
        break;
      }
    }
    piece_formatter& own = *formatters_.front();
    for (std::size_t p = 0; p < plan_.pieces; ++p) {
      slot& s = *slots_[p % window_];
      bool direct = false;
      for (;;) {
        std::size_t q;
        {
          std::unique_lock lock(mutex_);
          if (s.done) break;
          if (next_ == p) {
            ++next_;
            direct = true;
            break;
          }
          if (!may_take()) {
            ready_.wait(lock, [&] { return s.done; });
            break;
          }
          q = next_++;
        }
        format_into_slot(own, q);
      }
      if (direct) {
        // A failure propagates with what the piece wrote before it, as it
        // would from a single thread.
        own.format(p, out);
      } else {
        out.put(s.text.text());
        if (s.error) std::rethrow_exception(s.error);
        s.text.clear();
      }
      {
        const std::lock_guard lock(mutex_);
        s.done = false;
        ++written_;
      }
      room_.notify_all();
    }
    return threads_.size() + 1;
  }

 private:
  struct slot {
    text_output text;
    std::exception_ptr error;
    bool done = false;
  };

  // Whether a further piece may be taken (mutex_ held).
  bool may_take() const {
    return next_ < plan_.pieces && next_ < written_ + window_;
  }

  void format_into_slot(piece_formatter& f, std::size_t p) {
    slot& s = *slots_[p % window_];
    try {
      f.format(p, s.text);
    } catch (...) {
      s.error = std::current_exception();
    }
    {
      const std::lock_guard lock(mutex_);
      s.done = true;
    }
    ready_.notify_one();
  }

  void work(piece_formatter& f) {
    for (;;) {
      std::size_t p;
      {
        std::unique_lock lock(mutex_);
        room_.wait(lock, [&] { return stop_ || next_ >= plan_.pieces ||
                                      may_take(); });
        if (stop_ || next_ >= plan_.pieces) return;
        p = next_++;
      }
      format_into_slot(f, p);
    }
  }

  const plan_type& plan_;
  std::size_t window_;
  std::vector<std::unique_ptr<slot>> slots_;
  std::vector<std::unique_ptr<piece_formatter>> formatters_;

 public:
  // Once run() has returned: what every formatter could not write.
  std::int64_t missing_polymorphisms() const noexcept {
    std::int64_t n = 0;
    for (const auto& f : formatters_) n += f->missing_polymorphisms();
    return n;
  }

 private:
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable ready_;  // a piece is done (the writer waits)
  std::condition_variable room_;   // a slot is free (the workers wait)
  std::size_t next_ = 0;           // the next piece to take
  std::size_t written_ = 0;        // pieces written out
  bool stop_ = false;
};

}  // namespace

host_matrix_report write_host_matrix(const host_matrix_job& job,
                                     std::int32_t threads, text_output& out) {
  const plan_type plan(job);
  print::char_mat_writer head(job.layout, job.analysis.cell_type(),
                              plan.width, true, job.analysis.alphabet());
  // The NEXUS layouts name each column of numbers by its site and state.
  if (job.analysis.formula() == formula_type::FREQUENCIES)
    head.name_columns(job.analysis.state_names());
  else if (job.analysis.formula() == formula_type::ENTROPY)
    head.name_columns({"entropy"});
  if (job.tidy)
    detail::tidy_formatter(job.analysis, 0).put_header(out);
  else
    head.put_header(out, static_cast<std::int32_t>(plan.hosts.size()),
                    job.analysis.written_columns(job.chars.nchar()),
                    job.comment);
  const std::size_t workers =
      std::min<std::size_t>({static_cast<std::size_t>(std::max(threads, 1)),
                             plan.pieces, max_threads});
  host_matrix_report report;
  if (workers <= 1) {
    piece_formatter f(plan);
    for (std::size_t p = 0; p < plan.pieces; ++p) f.format(p, out);
    report.missing_polymorphisms = f.missing_polymorphisms();
  } else {
    parallel_writer writer(plan, workers);
    const std::size_t ran = writer.run(out);
    report.threads_not_started = static_cast<std::int32_t>(workers - ran);
    report.missing_polymorphisms = writer.missing_polymorphisms();
  }
  if (!job.tidy) head.put_footer(out);
  return report;
}

void write_incidence_matrix(const numeric_host_maps& hosts,
                            const std::vector<std::string>& labels,
                            text_output& out) {
  std::vector<std::int32_t> columns;
  for (const auto& [host, group] : hosts)
    columns.insert(columns.end(), group.begin(), group.end());
  std::sort(columns.begin(), columns.end());
  columns.erase(std::unique(columns.begin(), columns.end()), columns.end());
  for (const std::int32_t r : columns) {
    out.put('\t');
    out.put(labels[static_cast<std::size_t>(r - 1)]);
  }
  out.put('\n');
  for (const auto& [host, group] : hosts) {
    out.put(host);
    // Both ascending: one walk.
    auto g = group.begin();
    for (const std::int32_t r : columns) {
      const bool in = g != group.end() && *g == r;
      if (in) ++g;
      out.put('\t');
      out.put(in ? '1' : '0');
    }
    out.put('\n');
  }
}

}  // namespace zurud::hostpara
