// Work that takes seconds and must not be interrupted (installing the TAP
// driver, restarting services) runs behind a small modal dialog: Run on the
// dialog's worker thread, OnTimer on its window thread while Run goes on.
#pragma once
#include <string>

// What an operation may do to the dialog that runs it.
class IBlockedOperationHost {
 public:
  virtual void SetStatusText(const std::wstring& text) = 0;

 protected:
  ~IBlockedOperationHost() = default;
};

class IOperation {
 public:
  virtual ~IOperation() = default;
  virtual void Run(IBlockedOperationHost& dialog) = 0;
  virtual void OnTimer() = 0;
  // Never called by the dialog; kept so every operation has the same shape.
  virtual void Reserved() {}
};
