// Platform half of the console redirector. Only console_redirector.cpp uses it.
#pragma once
#include <cstddef>
#include <string>

class CConsoleChild {
 public:
  enum class WaitResult { Exited, Timeout, Failed };

  CConsoleChild();
  ~CConsoleChild();

  // Starts the child hidden and detached from our console, its standard
  // output and error on one channel, input on another. False leaves nothing
  // behind.
  bool Start(const std::wstring& commandLine);
  // Bytes readable without blocking; negative when the channel failed.
  long Available();
  // Reads at most `max` bytes; zero or negative on failure.
  long Read(char* buffer, std::size_t max);
  WaitResult Wait(unsigned milliseconds);
  bool Write(const std::string& bytes);
  // Asks the child to end by itself; false where the platform has no way.
  bool Interrupt();
  // Ends the child at once (it may have ended already).
  void Terminate();
  // Releases everything; reaps the child where the platform needs it.
  void Close();

 private:
  struct Impl;
  Impl* impl_;
};
