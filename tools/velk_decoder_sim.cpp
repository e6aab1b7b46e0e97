// SPDX-License-Identifier: GPL-3.0-or-later
// velk_decoder_sim: a stand-in for the decoder that appends decode lines to
// a decode file. Run with --help for the options.

#include <algorithm>
#include <chrono>
#include <csignal>
#include <iostream>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <variant>
#include <vector>

#include "tools/sim_line.h"
#include "tools/sim_options.h"
#include "tools/sim_writer.h"
#include "tools/text_files.h"

namespace {

using velk::sim::SimOptions;

// Set by the SIGINT and SIGTERM handler; a signal handler can reach nothing
// but an object of static storage.
volatile std::sig_atomic_t stopRequested = 0;

extern "C" void RequestStop(int) {
  stopRequested = 1;
}

bool StopRequested() {
  return stopRequested != 0;
}

// Sleeps for `seconds` in short slices, returning early on a stop request.
void PauseUnlessStopped(double seconds) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(seconds));
  constexpr auto kSlice = std::chrono::milliseconds(20);
  while (!StopRequested()) {
    const auto now = Clock::now();
    if (now >= end) return;
    std::this_thread::sleep_for(std::min<Clock::duration>(end - now, kSlice));
  }
}

// Where the second piece of a split write begins: at the chosen column of
// the last line, or in the middle of its message.
std::size_t SplitOffset(const SimOptions& options, std::size_t textSize, std::string_view lastLine,
                        std::size_t lastMessageLength) {
  if (!options.Splits()) return 0;
  constexpr std::size_t kMessageColumn = 36;
  const std::size_t column =
      options.splitAt ? *options.splitAt : kMessageColumn + lastMessageLength / 2;
  const std::size_t lastLineStart = textSize - lastLine.size();
  return std::clamp<std::size_t>(lastLineStart + column - 1, 1, textSize - 1);
}

int Run(const SimOptions& options) {
  const std::uint64_t seed = options.seed ? *options.seed : std::random_device{}();
  if (!options.seed) std::cerr << "velk_decoder_sim: seed " << seed << '\n';
  std::mt19937_64 random(seed);

  velk::sim::DecodeFileWriter writer({options.file, options.echoFile,
                                      std::chrono::milliseconds(options.splitPauseMs),
                                      options.truncateEvery, options.replaceEvery});
  const std::string_view lineEnd = velk::sim::LineEndText(options.lineEnd);

  std::uniform_int_distribution<std::uint64_t> burst(options.burst,
                                                     std::max(options.burst, options.burstMost));
  std::uniform_real_distribution<double> pause(
      options.intervalSeconds, std::max(options.intervalSeconds, options.intervalMostSeconds));
  std::uint64_t written = 0;
  while (!StopRequested() && (options.count == 0 || written < options.count)) {
    const std::uint64_t drawn = burst(random);
    const std::uint64_t lines =
        options.count == 0 ? drawn : std::min(drawn, options.count - written);
    const std::string time = options.fixedTime ? *options.fixedTime : velk::tools::UtcDecodeTime();
    std::string text;
    std::string lastLine;
    std::size_t lastMessageLength = 0;
    for (std::uint64_t i = 0; i < lines; ++i) {
      const velk::sim::SimDecode decode =
          velk::sim::RandomDecode(random, time, options.unmarkedShare);
      lastLine = velk::sim::FormatDecodeLine(decode) + std::string(lineEnd);
      lastMessageLength = decode.message.size();
      text += lastLine;
    }
    if (writer.ChangeDue()) PauseUnlessStopped(static_cast<double>(options.changePauseMs) / 1000);
    std::string error;
    if (!writer.Write(text, lines, SplitOffset(options, text.size(), lastLine, lastMessageLength),
                      error)) {
      std::cerr << "velk_decoder_sim: " << error << '\n';
      return 1;
    }
    written += lines;
    if (options.count == 0 || written < options.count) PauseUnlessStopped(pause(random));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> arguments(argv + std::min(argc, 1), argv + argc);
  const velk::sim::ParsedOptions parsed = velk::sim::ParseSimOptions(arguments);
  if (std::holds_alternative<velk::sim::HelpRequest>(parsed)) {
    std::cout << velk::sim::UsageText();
    return 0;
  }
  if (const auto* error = std::get_if<velk::sim::OptionError>(&parsed)) {
    std::cerr << "velk_decoder_sim: " << error->message << "\nTry 'velk_decoder_sim --help'.\n";
    return 2;
  }
  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);
  return Run(std::get<SimOptions>(parsed));
}
