// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/results_table.h"

#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace velk::bench {

namespace {

enum class Verdict { kNoGoal, kMet, kMissed, kNotRun };

struct Row {
  std::string figure;
  std::string value;
  std::string goal;
  Verdict verdict;
};

std::string Format(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

class Table {
 public:
  explicit Table(const std::map<std::string, double>& figures) : figures_(figures) {}

  std::optional<double> Figure(const std::string& key) const {
    const auto found = figures_.find(key);
    if (found == figures_.end() || std::isnan(found->second)) return std::nullopt;
    return found->second;
  }
  long Count(const std::string& key, long fallback) const {
    return static_cast<long>(Figure(key).value_or(static_cast<double>(fallback)));
  }

  // A figure without a goal.
  void Info(const std::string& figure, const std::string& key, const char* pattern) {
    const std::optional<double> value = Figure(key);
    Add({figure, value ? Format(pattern, *value) : "n/a", "-",
         value ? Verdict::kNoGoal : Verdict::kNotRun});
  }

  // A figure that must stay below `limit`.
  void Below(const std::string& figure, const std::string& key, const char* pattern, double limit,
             const std::string& goal) {
    const std::optional<double> value = Figure(key);
    Add({figure, value ? Format(pattern, *value) : "n/a", goal,
         Judge(value.has_value(), value && *value < limit)});
  }

  // One figure against another; at most `limit` times.
  void Ratio(const std::string& figure, const std::string& key, const std::string& base,
             double limit, const std::string& goal) {
    const std::optional<double> top = Figure(key);
    const std::optional<double> bottom = Figure(base);
    const bool known = top && bottom && *bottom > 0;
    const double ratio = known ? *top / *bottom : NAN;
    Add({figure, known ? Format("%.2fx", ratio) : "n/a", goal, Judge(known, ratio <= limit)});
  }

  // How much one figure grew over another; less than `limit`.
  void Growth(const std::string& figure, const std::string& key, const std::string& base,
              const char* pattern, double limit, const std::string& goal) {
    const std::optional<double> top = Figure(key);
    const std::optional<double> bottom = Figure(base);
    const bool known = top && bottom;
    const double grown = known ? *top - *bottom : NAN;
    Add({figure, known ? Format(pattern, grown) : "n/a", goal, Judge(known, grown < limit)});
  }

  // Items that arrived once, in order, byte for byte, out of `expected`.
  void AllInOrder(const std::string& figure, const std::string& inOrderKey,
                  const std::string& exactKey, long expected, bool isGoal) {
    const std::optional<double> inOrder = Figure(inOrderKey);
    const std::optional<double> exact = Figure(exactKey);
    const bool known = inOrder && exact;
    const bool all = known && *exact == 1 && static_cast<long>(*inOrder) == expected;
    std::string value = "n/a";
    if (known) {
      value = std::to_string(static_cast<long>(*inOrder)) + "/" + std::to_string(expected);
      if (*exact != 1) value += " + extra";
    }
    const Verdict verdict =
        isGoal ? Judge(known, all) : (known ? Verdict::kNoGoal : Verdict::kNotRun);
    Add({figure, value, isGoal ? "all" : "-", verdict});
  }

  void Add(Row row) { rows_.push_back(std::move(row)); }

  bool Print() const {
    std::printf("%-62s %-24s %-12s %s\n", "figure", "value", "goal", "result");
    std::printf("%s\n", std::string(110, '-').c_str());
    int met = 0;
    int missed = 0;
    for (const Row& row : rows_) {
      std::printf("%-62s %-24s %-12s %s\n", row.figure.c_str(), row.value.c_str(), row.goal.c_str(),
                  VerdictText(row.verdict));
      met += row.verdict == Verdict::kMet;
      missed += row.verdict == Verdict::kMissed || row.verdict == Verdict::kNotRun;
    }
    std::printf("%s\n%d goals met, %d missed or not run\n", std::string(110, '-').c_str(), met,
                missed);
    return missed == 0;
  }

 private:
  static Verdict Judge(bool known, bool good) {
    if (!known) return Verdict::kNotRun;
    return good ? Verdict::kMet : Verdict::kMissed;
  }
  static const char* VerdictText(Verdict verdict) {
    switch (verdict) {
      case Verdict::kNoGoal:
        return "";
      case Verdict::kMet:
        return "met";
      case Verdict::kMissed:
        return "MISSED";
      case Verdict::kNotRun:
        return "NOT RUN";
    }
    return "";
  }

  const std::map<std::string, double>& figures_;
  std::vector<Row> rows_;
};

std::string Thousands(long value) {
  const std::string digits = std::to_string(value);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0 && digits[i - 1] != '-') grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

void AddIdleRows(Table& table) {
  const std::string seconds = Format("%.0f s", table.Figure("idle_before_go.seconds").value_or(30));
  table.Below("CPU, " + seconds + " idle window before Go", "idle_before_go.cpu_percent",
              "%.2f %% of a core", 3, "< 3 %");
  table.Below("CPU, " + seconds + " watching an idle ALL.TXT after Go", "idle_after_go.cpu_percent",
              "%.2f %% of a core", 3, "< 3 %");
  // The floor: a window that does nothing but show a clock from a 1 ms
  // timer, measured in the same run.
  table.Info("CPU, " + seconds + " of a Qt window with a 1 ms clock (floor)",
             "idle_floor.cpu_percent", "%.2f %% of a core");
  table.Ratio("idle before Go / floor", "idle_before_go.cpu_percent", "idle_floor.cpu_percent", 1.5,
              "<= 1.5x");
  table.Ratio("idle after Go / floor", "idle_after_go.cpu_percent", "idle_floor.cpu_percent", 1.5,
              "<= 1.5x");
}

void AddFirstDecodeRows(Table& table) {
  const long count = table.Count("first.count", 500);
  const std::string decodes = Thousands(count) + " decodes, 20-80 ms apart";
  table.Below("append -> log record, p50 (" + decodes + ")", "first.p50_ms", "%.3f ms", 1,
              "< 1 ms");
  table.Info("append -> log record, p90", "first.p90_ms", "%.3f ms");
  table.Below("append -> log record, p99", "first.p99_ms", "%.3f ms", 3, "< 3 ms");
  table.Info("append -> log record, max", "first.max_ms", "%.3f ms");
  table.Info("tail -F: append -> output line, p50 (same run)", "first.tail_p50_ms", "%.3f ms");
  table.Info("tail -F: append -> output line, p99", "first.tail_p99_ms", "%.3f ms");
  table.Ratio("our p50 / tail -F p50", "first.p50_ms", "first.tail_p50_ms", 5, "<= 5x");
  table.AllInOrder("decodes logged once, in order, byte for byte", "first.in_order", "first.exact",
                   count, true);
  table.AllInOrder("decodes shown in the list once, in order", "first.shown_in_order",
                   "first.shown_exact", count, true);
  table.AllInOrder("tail -F lines copied once, in order", "first.tail_in_order", "first.tail_exact",
                   count, false);
  table.Info("CPU over those decodes (% of a core)", "first.cpu_percent", "%.2f %%");
  table.Info("CPU per decode over those decodes, pauses included", "first.cpu_us_per_decode",
             "%.0f us");
  table.Info("machine load average (1 min) at their end", "first.loadavg", "%.2f");
}

void AddBurstRows(Table& table) {
  const std::string bursts = Thousands(table.Count("bursts.count", 1000));
  table.Info("burst line -> its log record, p50 (" + bursts + " bursts of 1-10 lines)",
             "bursts.p50_ms", "%.3f ms");
  table.Info("burst line -> its log record, p90", "bursts.p90_ms", "%.3f ms");
  table.Below("burst line -> its log record, p99", "bursts.p99_ms", "%.3f ms", 5, "< 5 ms");
  table.Info("burst line -> its log record, max", "bursts.max_ms", "%.3f ms");
  table.AllInOrder("burst lines logged once, in order, byte for byte", "bursts.in_order",
                   "bursts.exact", table.Count("bursts.lines", 0), true);
}

void AddFloodRows(Table& table) {
  const long count = table.Count("flood.count", 100000);
  const std::string many = Thousands(count);
  const std::string window = Thousands(table.Count("flood.window", count / 20));
  table.Info(many + " decodes, each awaited before the next: time", "flood.seconds", "%.1f s");
  table.AllInOrder(many + " decodes logged once, in order, byte for byte", "flood.in_order",
                   "flood.exact", count, true);
  table.Below("RSS after " + many + " decodes", "flood.rss_mib", "%.1f MiB", 150, "< 150 MiB");
  table.Info("peak RSS (VmHWM) over the whole run", "end.hwm_mib", "%.1f MiB");
  table.Info("append -> log record p50, first " + window + " of them", "flood.first_p50_ms",
             "%.3f ms");
  table.Info("append -> log record p50, last " + window + " of them", "flood.last_p50_ms",
             "%.3f ms");
  table.Info("CPU per decode, first " + window + " of them", "flood.first_cpu_us", "%.0f us");
  table.Info("CPU per decode, last " + window + " of them", "flood.last_cpu_us", "%.0f us");
  table.Ratio("CPU per decode, last / first", "flood.last_cpu_us", "flood.first_cpu_us", 2,
              "<= 2x");
}

// As many decodes again, fed fast in bursts once the list is full: the list
// keeps its newest lines only, so memory stays where it was. Then appends at
// the operator's pace, against those at the start.
void AddFillRows(Table& table) {
  const long flood = table.Count("flood.count", 100000);
  const long total = flood + table.Count("fill.count", 100000);
  const std::string more = Thousands(table.Count("fill.count", 100000));
  const std::string many = Thousands(total);
  const std::string lines = Thousands(table.Count("fill.burst_lines", 50));
  table.Info(more + " more, in bursts of up to " + lines + " lines: time", "fill.seconds",
             "%.1f s");
  table.AllInOrder(more + " more logged once, in order, byte for byte", "fill.in_order",
                   "fill.exact", table.Count("fill.lines", total - flood), true);
  table.Info("RSS after " + many + " decodes", "fill.rss_mib", "%.1f MiB");
  table.Growth("RSS growth from " + Thousands(flood) + " to " + many + " decodes", "fill.rss_mib",
               "flood.rss_mib", "%+.1f MiB", 5, "< 5 MiB");
  const std::string after = Thousands(table.Count("after.count", 500));
  table.Info("append -> log record p50 after them (" + after + ", 20-80 ms apart)", "after.p50_ms",
             "%.3f ms");
  table.Info("append -> log record p99 after them", "after.p99_ms", "%.3f ms");
  table.Ratio("append p50 after them / at the first decodes", "after.p50_ms", "first.p50_ms", 2,
              "<= 2x");
  table.AllInOrder("decodes after them logged once, in order", "after.in_order", "after.exact",
                   table.Count("after.count", 500), true);
  table.Below("CPU watching an idle ALL.TXT after them", "idle_after_flood.cpu_percent",
              "%.2f %% of a core", 3, "< 3 %");
}

// VELK_LOG.exe under Wine (scripts/bench --windows): the CPU of the whole
// Wine prefix, against a window that does the least there is to follow a
// file, and the append latency against the Linux build's in the same run.
void AddWindowsRows(Table& table) {
  const std::string seconds = Format("%.0f s", table.Figure("win_before_go.seconds").value_or(10));
  table.Info("Wine prefix CPU, " + seconds + " idle window before Go", "win_before_go.cpu_percent",
             "%.2f %% of a core");
  table.Info("Wine prefix CPU, " + seconds + " watching an idle ALL.TXT after Go",
             "win_after_go.cpu_percent", "%.2f %% of a core");
  table.Info("Wine prefix CPU, " + seconds + " 1 ms timer window asking a file's size",
             "win_timer.cpu_percent", "%.2f %% of a core");
  table.Ratio("after Go / before Go", "win_after_go.cpu_percent", "win_before_go.cpu_percent", 1.5,
              "<= 1.5x");
  table.Ratio("after Go / 1 ms timer window", "win_after_go.cpu_percent", "win_timer.cpu_percent",
              2, "<= 2x");
  const std::string decodes = Thousands(table.Count("win.count", 200)) + " decodes, 20-80 ms apart";
  table.Info("Wine: append -> log record, p50 (" + decodes + ")", "win.p50_ms", "%.3f ms");
  table.Info("Wine: append -> log record, p99", "win.p99_ms", "%.3f ms");
  table.Info("Linux build: append -> log record, p50 (same run)", "linux.p50_ms", "%.3f ms");
  table.Info("Linux build: append -> log record, p99", "linux.p99_ms", "%.3f ms");
  table.Ratio("Wine p50 / Linux p50", "win.p50_ms", "linux.p50_ms", 10, "<= 10x");
  table.AllInOrder("Wine: decodes logged once, in order, byte for byte", "win.in_order",
                   "win.exact", table.Count("win.count", 200), true);
}

}  // namespace

bool PrintResultsTable(const std::map<std::string, double>& given) {
  std::map<std::string, double> figures = given;
  for (const char* phase : {"flood", "fill", "end"}) {
    const std::string prefix = phase;
    for (const char* kind : {"rss", "hwm"}) {
      const auto found = figures.find(prefix + "." + kind + "_kib");
      if (found != figures.end()) figures[prefix + "." + kind + "_mib"] = found->second / 1024;
    }
  }
  Table table(figures);
  if (table.Figure("win.count")) {
    AddWindowsRows(table);
    return table.Print();
  }
  if (table.Figure("lastline.failed")) {
    table.Below("last line read: backwards = forwards, 1 GiB line < 16 MiB", "lastline.failed",
                "%.0f failures", 1, "0 failures");
  }
  AddIdleRows(table);
  AddFirstDecodeRows(table);
  AddBurstRows(table);
  AddFloodRows(table);
  AddFillRows(table);
  table.Below("window closed: program ended (exit status)", "end.exit_status", "%.0f", 1, "0");
  return table.Print();
}

}  // namespace velk::bench
