// SPDX-License-Identifier: GPL-3.0-or-later
// The measuring half of the end-to-end benchmark of the real VELK_LOG binary.
// scripts/bench drives the window as an operator would (Xvfb, xdotool) and
// calls this program for each measurement; every figure goes as one
// "key value" line into a results file, and `report` turns that file into
// the table with the goals.
//
// Linux only: it reads /proc/PID/stat and /proc/PID/status, waits on
// inotify and starts GNU tail with posix_spawn.
//
//   end_to_end_bench cpu     --pid P | --wine-prefix W --seconds S --name N
//                            --results R
//   end_to_end_bench appends --pid P --decode-file F --log-file L --count C
//                            [--gap-min-ms A --gap-max-ms B] [--tail-dir D]
//                            [--seed S] --name N --results R
//   end_to_end_bench flood   --pid P --decode-file F --log-file L --count C
//                            --name N --results R
//   end_to_end_bench bursts  --pid P --decode-file F --log-file L --count C
//                            [--seed S] --name N --results R
//   end_to_end_bench fill    --pid P --decode-file F --log-file L --count C
//                            [--burst-lines B] [--seed S] --name N --results R
//   end_to_end_bench shown   --decode-file F --clipboard T --name N --results R
//   end_to_end_bench report  --results R
//
// Times run from just before the write call that appends a decode line to
// the moment the benchmark has read the whole expected record back from the
// log file (woken by inotify), so they include the benchmark's own wake-up,
// exactly as they do for tail. In a burst, several lines go in with one
// write call, and each line's time runs to its own record.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/linux_probe.h"
#include "bench/results_table.h"
#include "tools/sim_line.h"
#include "tools/text_files.h"
#include "watch/decode_file.h"
#include "watch/decode_line.h"
#include "watch/followed_file.h"

namespace {

using velk::bench::Appender;
using velk::bench::ChangeWaiter;
using velk::bench::Clock;
using velk::bench::FileFollower;
using Milliseconds = std::chrono::duration<double, std::milli>;

constexpr auto kRecordTimeout = std::chrono::milliseconds(2000);
// A program that has stopped answering is not waited for 100,000 times.
constexpr int kMissesBeforeGivingUp = 5;

class Options {
 public:
  Options(int argc, char** argv) {
    for (int i = 2; i + 1 < argc; i += 2) values_[argv[i]] = argv[i + 1];
  }
  std::string Text(const std::string& name, const std::string& fallback = "") const {
    const auto found = values_.find(name);
    return found == values_.end() ? fallback : found->second;
  }
  long Number(const std::string& name, long fallback = 0) const {
    const std::string text = Text(name);
    return text.empty() ? fallback : std::stol(text);
  }

 private:
  std::map<std::string, std::string> values_;
};

class Results {
 public:
  explicit Results(const Options& options)
      : out_(options.Text("--results"), std::ios::app), prefix_(options.Text("--name")) {}
  void Put(const std::string& key, double value) {
    out_ << prefix_ << '.' << key << ' ' << value << '\n';
  }

 private:
  std::ofstream out_;
  std::string prefix_;
};

// A decode line as the decoder appends it, and what VELK_LOG must log for it.
struct Decode {
  std::string line;    // with its CR LF
  std::string record;  // the log record's whole line
};

class DecodeSource {
 public:
  explicit DecodeSource(std::uint64_t seed) : random_(seed) {}
  Decode Next() {
    const std::string text = velk::sim::FormatDecodeLine(
        velk::sim::RandomDecode(random_, velk::tools::UtcDecodeTime(), /*unmarkedShare=*/0.0));
    const std::string_view head = std::string_view(text).substr(0, velk::kLineBytesUsed);
    return {text + "\r\n", velk::BuildLogRecord(velk::CutFields(head), head).Line()};
  }
  std::mt19937_64& Random() { return random_; }

 private:
  std::mt19937_64 random_;
};

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return NAN;
  std::sort(values.begin(), values.end());
  const auto rank = static_cast<std::size_t>(std::ceil(share * static_cast<double>(values.size())));
  return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

// A file one side appends to and another follows, with everything that is
// expected to show up on the far side so far.
struct Channel {
  Channel(const std::string& inPath, const std::string& outPath) : in(inPath), out(outPath) {}
  Appender in;
  FileFollower out;
  std::string expected;
  std::vector<std::size_t> ends;  // where each expected piece ends
  std::vector<double> latencies;  // ms, of the pieces that arrived in time
  int misses = 0;
  int missesInARow = 0;

  // Appends `bytes`, waits for `reply` on the far side; the time taken.
  std::optional<double> TimeOne(std::string_view bytes, std::string_view reply,
                                ChangeWaiter& waiter) {
    expected += reply;
    ends.push_back(expected.size());
    const auto start = Clock::now();
    const bool arrived =
        in.Append(bytes) && out.WaitForSize(expected.size(), waiter, start + kRecordTimeout);
    const double ms = Milliseconds(Clock::now() - start).count();
    if (!arrived) {
      ++misses;
      ++missesInARow;
      return std::nullopt;
    }
    missesInARow = 0;
    latencies.push_back(ms);
    return ms;
  }

  // Appends `bytes` with one write call and waits for each of `replies` on
  // the far side in turn; each one's time from the write.
  void TimeBurst(std::string_view bytes, const std::vector<std::string>& replies,
                 ChangeWaiter& waiter) {
    const auto start = Clock::now();
    bool written = in.Append(bytes);
    for (const std::string& reply : replies) {
      expected += reply;
      ends.push_back(expected.size());
      const bool arrived =
          written && out.WaitForSize(expected.size(), waiter, start + kRecordTimeout);
      if (!arrived) {
        ++misses;
        written = false;  // what follows cannot come before it
        continue;
      }
      latencies.push_back(Milliseconds(Clock::now() - start).count());
    }
    missesInARow = written ? 0 : missesInARow + 1;
  }

  // How many pieces stand in the far file in order, byte for byte, counted
  // up to the first difference.
  std::size_t InOrder() const {
    const std::string& got = out.Bytes();
    const auto differ =
        std::mismatch(got.begin(), got.end(), expected.begin(), expected.end()).first;
    const auto same = static_cast<std::size_t>(differ - got.begin());
    return static_cast<std::size_t>(std::upper_bound(ends.begin(), ends.end(), same) -
                                    ends.begin());
  }
  bool Exact() const { return out.Bytes() == expected; }
};

// Late or doubled bytes are given a moment to arrive before the check.
void Settle(Channel& channel) {
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  channel.out.Catch();
}

void PutLatencies(Results& results, const std::string& prefix, const std::vector<double>& ms) {
  results.Put(prefix + "p50_ms", Percentile(ms, 0.50));
  results.Put(prefix + "p90_ms", Percentile(ms, 0.90));
  results.Put(prefix + "p99_ms", Percentile(ms, 0.99));
  results.Put(prefix + "max_ms", ms.empty() ? NAN : *std::max_element(ms.begin(), ms.end()));
}

void PutChannel(Results& results, const std::string& prefix, Channel& channel) {
  Settle(channel);
  PutLatencies(results, prefix, channel.latencies);
  results.Put(prefix + "in_order", static_cast<double>(channel.InOrder()));
  results.Put(prefix + "exact", channel.Exact() ? 1 : 0);
  results.Put(prefix + "missing", channel.misses);
}

// The one-minute load average.
double LoadAverage() {
  std::ifstream in("/proc/loadavg");
  double load = NAN;
  in >> load;
  return load;
}

void PutMemory(Results& results, pid_t pid) {
  results.Put("rss_kib", static_cast<double>(velk::bench::StatusKiB(pid, "VmRSS:").value_or(0)));
  results.Put("hwm_kib", static_cast<double>(velk::bench::StatusKiB(pid, "VmHWM:").value_or(0)));
}

// The CPU seconds of each process, by pid.
std::map<pid_t, double> CpuOf(const std::vector<pid_t>& pids) {
  std::map<pid_t, double> seconds;
  for (const pid_t pid : pids) {
    if (const std::optional<double> used = velk::bench::CpuSeconds(pid)) seconds[pid] = *used;
  }
  return seconds;
}

// The CPU of one process (--pid), or of every process of a Wine prefix
// (--wine-prefix: its server, services and programs). A process of the
// prefix that started during the window counts with all it used.
int RunCpu(const Options& options) {
  Results results(options);
  const std::string prefix = options.Text("--wine-prefix");
  const auto pids = [&] {
    if (prefix.empty()) return std::vector<pid_t>{static_cast<pid_t>(options.Number("--pid"))};
    return velk::bench::ProcessesWithEnvironment("WINEPREFIX=" + prefix);
  };
  const auto start = Clock::now();
  const std::map<pid_t, double> before = CpuOf(pids());
  std::this_thread::sleep_for(std::chrono::seconds(options.Number("--seconds", 30)));
  const std::map<pid_t, double> after = CpuOf(pids());
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  if (before.empty() || after.empty()) return 1;
  double used = 0;
  for (const auto& [pid, seconds] : after) {
    const auto found = before.find(pid);
    used += seconds - (found == before.end() ? 0 : found->second);
  }
  results.Put("cpu_percent", 100 * used / wall);
  results.Put("processes", static_cast<double>(after.size()));
  results.Put("seconds", wall);
  return 0;
}

// The reference: GNU tail following a second decode file. Returns once tail
// is known to be following: lines appended before it began are not copied,
// so warm-up lines go in until one comes through.
bool WaitUntilFollowing(const std::string& tailFile, const std::string& tailOut,
                        DecodeSource& source, ChangeWaiter& waiter) {
  Appender in(tailFile);
  FileFollower out(tailOut);
  for (int attempt = 0; attempt < 50; ++attempt) {
    const std::string line = source.Next().line;
    if (!in.Append(line)) return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(200);
    while (out.WaitForSize(out.Bytes().size() + 1, waiter, deadline)) {
      if (out.Bytes().ends_with(line)) return true;
    }
  }
  return false;
}

int RunAppends(const Options& options) {
  Results results(options);
  const pid_t pid = static_cast<pid_t>(options.Number("--pid"));
  DecodeSource source(static_cast<std::uint64_t>(options.Number("--seed", 1)));
  std::uniform_int_distribution<long> gap(options.Number("--gap-min-ms", 20),
                                          options.Number("--gap-max-ms", 80));
  ChangeWaiter waiter;
  const std::string logFile = options.Text("--log-file");
  waiter.Watch(std::filesystem::path(logFile).parent_path().string());
  Channel velk(options.Text("--decode-file"), logFile);

  const std::string tailDir = options.Text("--tail-dir");
  std::optional<velk::bench::Child> tail;
  std::optional<Channel> reference;
  if (!tailDir.empty()) {
    const std::string tailFile = tailDir + "/ALL.TXT";
    const std::string tailOut = tailDir + "/tail.out";
    Appender created(tailFile, /*truncate=*/true);
    waiter.Watch(tailDir);
    tail.emplace(std::vector<std::string>{"tail", "-F", "-n", "0", tailFile}, tailOut);
    if (!tail->Started() || !WaitUntilFollowing(tailFile, tailOut, source, waiter)) {
      std::fprintf(stderr, "end_to_end_bench: tail -F did not start following\n");
      return 1;
    }
    reference.emplace(tailFile, tailOut);
  }

  const long count = options.Number("--count", 500);
  const auto start = Clock::now();
  const double cpuBefore = velk::bench::CpuSeconds(pid).value_or(NAN);
  for (long i = 0; i < count && velk.missesInARow < kMissesBeforeGivingUp; ++i) {
    const Decode decode = source.Next();
    velk.TimeOne(decode.line, decode.record, waiter);
    if (reference) reference->TimeOne(decode.line, decode.line, waiter);
    std::this_thread::sleep_for(std::chrono::milliseconds(gap(source.Random())));
  }
  const double cpuAfter = velk::bench::CpuSeconds(pid).value_or(NAN);
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();

  results.Put("count", static_cast<double>(count));
  results.Put("seconds", wall);
  results.Put("cpu_percent", 100 * (cpuAfter - cpuBefore) / wall);
  results.Put("cpu_us_per_decode", 1e6 * (cpuAfter - cpuBefore) / static_cast<double>(count));
  PutChannel(results, "", velk);
  if (reference) PutChannel(results, "tail_", *reference);
  PutMemory(results, pid);
  // Other work on the machine shows in the slowest appends of both.
  results.Put("loadavg", LoadAverage());
  return 0;
}

int RunFlood(const Options& options) {
  Results results(options);
  const pid_t pid = static_cast<pid_t>(options.Number("--pid"));
  DecodeSource source(static_cast<std::uint64_t>(options.Number("--seed", 2)));
  ChangeWaiter waiter;
  const std::string logFile = options.Text("--log-file");
  waiter.Watch(std::filesystem::path(logFile).parent_path().string());
  Channel velk(options.Text("--decode-file"), logFile);

  const long count = options.Number("--count", 100000);
  // The first and the last twentieth of the decodes are compared.
  const long window = std::max(1L, count / 20);
  std::vector<double> cpuAt;  // CPU seconds at the window edges
  const auto start = Clock::now();
  for (long i = 0; i < count && velk.missesInARow < kMissesBeforeGivingUp; ++i) {
    if (i == 0 || i == window || i == count - window) {
      cpuAt.push_back(velk::bench::CpuSeconds(pid).value_or(NAN));
    }
    const Decode decode = source.Next();
    velk.TimeOne(decode.line, decode.record, waiter);
  }
  cpuAt.push_back(velk::bench::CpuSeconds(pid).value_or(NAN));
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();

  results.Put("count", static_cast<double>(count));
  results.Put("window", static_cast<double>(window));
  results.Put("seconds", wall);
  if (cpuAt.size() == 4) {
    results.Put("first_cpu_us", 1e6 * (cpuAt[1] - cpuAt[0]) / static_cast<double>(window));
    results.Put("last_cpu_us", 1e6 * (cpuAt[3] - cpuAt[2]) / static_cast<double>(window));
  }
  const std::vector<double>& ms = velk.latencies;
  const auto edge = static_cast<std::ptrdiff_t>(std::min<std::size_t>(window, ms.size()));
  results.Put("first_p50_ms", Percentile({ms.begin(), ms.begin() + edge}, 0.5));
  results.Put("last_p50_ms", Percentile({ms.end() - edge, ms.end()}, 0.5));
  PutChannel(results, "", velk);
  PutMemory(results, pid);
  return 0;
}

// Bursts of 1 to 10 decode lines, each burst in one write, 20 to 80 ms
// apart, as the decoder writes a decode cycle's lines.
int RunBursts(const Options& options) {
  Results results(options);
  const pid_t pid = static_cast<pid_t>(options.Number("--pid"));
  DecodeSource source(static_cast<std::uint64_t>(options.Number("--seed", 4)));
  std::uniform_int_distribution<int> lines(1, 10);
  std::uniform_int_distribution<long> gap(20, 80);
  ChangeWaiter waiter;
  const std::string logFile = options.Text("--log-file");
  waiter.Watch(std::filesystem::path(logFile).parent_path().string());
  Channel velk(options.Text("--decode-file"), logFile);

  const long count = options.Number("--count", 1000);
  long written = 0;
  for (long i = 0; i < count && velk.missesInARow < kMissesBeforeGivingUp; ++i) {
    std::string bytes;
    std::vector<std::string> records;
    for (int n = lines(source.Random()); n > 0; --n) {
      const Decode decode = source.Next();
      bytes += decode.line;
      records.push_back(decode.record);
    }
    written += static_cast<long>(records.size());
    velk.TimeBurst(bytes, records, waiter);
    std::this_thread::sleep_for(std::chrono::milliseconds(gap(source.Random())));
  }
  results.Put("count", static_cast<double>(count));
  results.Put("lines", static_cast<double>(written));
  PutChannel(results, "", velk);
  PutMemory(results, pid);
  results.Put("loadavg", LoadAverage());
  return 0;
}

// Many decodes fed fast, to see what the program holds once its list is
// full: bursts of up to --burst-lines lines, each burst in one write call and
// no larger than the program reads as soon as it sees it, the next burst
// written once every record of this one is in the log. Memory at the end.
int RunFill(const Options& options) {
  Results results(options);
  const pid_t pid = static_cast<pid_t>(options.Number("--pid"));
  DecodeSource source(static_cast<std::uint64_t>(options.Number("--seed", 5)));
  ChangeWaiter waiter;
  const std::string logFile = options.Text("--log-file");
  waiter.Watch(std::filesystem::path(logFile).parent_path().string());
  Channel velk(options.Text("--decode-file"), logFile);

  const long count = options.Number("--count", 100000);
  const long burstLines = std::max(1L, options.Number("--burst-lines", 50));
  long written = 0;
  long bursts = 0;
  std::optional<Decode> carried;  // made for the last burst, too large for it
  const auto start = Clock::now();
  while (written < count && velk.missesInARow < kMissesBeforeGivingUp) {
    std::string bytes;
    std::vector<std::string> records;
    while (written < count && static_cast<long>(records.size()) < burstLines) {
      Decode decode = carried ? std::move(*carried) : source.Next();
      carried.reset();
      if (!records.empty() && bytes.size() + decode.line.size() > velk::kGrowthReadAtOnce) {
        carried = std::move(decode);
        break;
      }
      bytes += decode.line;
      records.push_back(std::move(decode.record));
      ++written;
    }
    velk.TimeBurst(bytes, records, waiter);
    ++bursts;
  }
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();

  results.Put("count", static_cast<double>(count));
  results.Put("lines", static_cast<double>(written));
  results.Put("bursts", static_cast<double>(bursts));
  results.Put("burst_lines", static_cast<double>(burstLines));
  results.Put("seconds", wall);
  PutChannel(results, "", velk);
  PutMemory(results, pid);
  results.Put("loadavg", LoadAverage());
  return 0;
}

// The list's text, copied out of the window, against the display line of
// every marked line of the decode file.
int RunShown(const Options& options) {
  Results results(options);
  const std::string decodeFile = options.Text("--decode-file");
  velk::DiskDecodeFiles files;
  const std::string date = files.ModificationDate(decodeFile).value_or("");
  std::vector<std::string> expected;
  const std::string written = velk::tools::ReadWholeFile(decodeFile).value_or("");
  for (const std::string& line : velk::tools::SplitLines(written)) {
    if (line.find('*') == std::string::npos) continue;
    const std::string_view head = std::string_view(line).substr(0, velk::kLineBytesUsed);
    std::string display = velk::DisplayLine(date, velk::CutFields(head));
    display.resize(display.size() - 2);  // the CR LF
    expected.push_back(std::move(display));
  }
  const std::vector<std::string> shown =
      velk::tools::SplitLines(velk::tools::ReadWholeFile(options.Text("--clipboard")).value_or(""));
  const auto differ = std::mismatch(shown.begin(), shown.end(), expected.begin(), expected.end());
  results.Put("shown_in_order", static_cast<double>(differ.first - shown.begin()));
  results.Put("shown_exact", shown == expected ? 1 : 0);
  results.Put("shown_expected", static_cast<double>(expected.size()));
  return 0;
}

int RunReport(const Options& options) {
  std::map<std::string, double> figures;
  std::ifstream in(options.Text("--results"));
  std::string key;
  double value = 0;
  while (in >> key >> value) figures[key] = value;
  return velk::bench::PrintResultsTable(figures) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  const Options options(argc, argv);
  if (command == "cpu") return RunCpu(options);
  if (command == "appends") return RunAppends(options);
  if (command == "flood") return RunFlood(options);
  if (command == "bursts") return RunBursts(options);
  if (command == "fill") return RunFill(options);
  if (command == "shown") return RunShown(options);
  if (command == "report") return RunReport(options);
  std::fprintf(
      stderr,
      "usage: end_to_end_bench cpu|appends|flood|bursts|fill|shown|report --OPTION VALUE ...\n"
      "(run by scripts/bench; see the comment at the top of end_to_end_bench.cpp)\n");
  return 2;
}
