// Starting a downloaded program only when it is ours: the file is opened so
// that nobody can write, rename or delete it, its bytes are checked while it
// stays open, and exactly that file is started (by its full path, no search,
// no shell verb) before it is closed again.
#pragma once
#include <cstdint>
#include <string>

#include "app/authenticode.h"

struct UpdateStartResult {
  enum class Outcome { Started, Refused, NotStarted };
  Outcome outcome = Outcome::NotStarted;
  UpdateProgramVerdict verdict;
  // The system's own opinion where it has one (WinVerifyTrust's result; 0 is
  // trusted); it only ever adds a refusal, never replaces ours.
  long systemTrust = -1;
};

// `versionAbove`: the file's version must be greater than this (the running
// client's for an update; one less for the portable handover, which starts
// a copy of itself).
UpdateStartResult StartVerifiedProgram(const std::wstring& path, const std::wstring& arguments,
                                       std::uint64_t versionAbove, const PublisherPin& publisher = BuiltInPublisher());
