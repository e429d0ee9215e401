// Where vesk3ctl's output goes: data on standard output; notes, progress and
// errors on standard error, each line "vesk3ctl: ...".
//
// Owns: the two streams, the verbosity (-q: errors only; -v: more notes),
// whether standard error is a terminal (progress lines only there).
// Does not own: what is said.
#pragma once

#include <ostream>
#include <string>

constexpr const char* kProgramName = "vesk3ctl";

enum class Verbosity { Quiet, Normal, Verbose };

struct Console {
  std::ostream& out;
  std::ostream& err;
  bool errIsTerminal = false;
  Verbosity verbosity = Verbosity::Normal;

  void Error(const std::string& text) const { err << kProgramName << ": " << text << '\n'; }
  void Note(const std::string& text) const {
    if (verbosity != Verbosity::Quiet) Error(text);
  }
  void Detail(const std::string& text) const {
    if (verbosity == Verbosity::Verbose) Error(text);
  }
  bool ShowsProgress() const { return errIsTerminal && verbosity != Verbosity::Quiet; }
};
