// The accelerate dialog's list control and the shell, in memory.
#pragma once
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "accel/app_list.h"

class CFakeAppRows : public IAppRows {
 public:
  struct Row {
    std::unique_ptr<VpnAppItem> item;
    int image = 0;
    std::map<int, std::wstring> cells;
    bool selected = false;
    int redraws = 0;
  };
  int RowCount() const override { return static_cast<int>(rows.size()); }
  int AppendRow(std::unique_ptr<VpnAppItem> item, int image) override {
    rows.push_back(Row{std::move(item), image, {}, false, 0});
    return static_cast<int>(rows.size()) - 1;
  }
  void SetCellText(int row, int column, const std::wstring& text) override { rows.at(row).cells[column] = text; }
  VpnAppItem* Item(int row) override { return rows.at(row).item.get(); }
  bool IsSelected(int row) const override { return rows.at(row).selected; }
  void DeleteRow(int row) override { rows.erase(rows.begin() + row); }
  void RedrawRow(int row) override { ++rows.at(row).redraws; }
  void Repaint() override { ++repaints; }

  void Select(std::initializer_list<int> which) {
    for (int r : which) rows.at(r).selected = true;
  }

  std::vector<Row> rows;
  int repaints = 0;
};

class CFakeShortcuts : public IShortcutResolver {
 public:
  bool ResolveShortcutTarget(const std::wstring& shortcut, std::wstring& target) override {
    asked.push_back(shortcut);
    auto it = targets.find(shortcut);
    if (it == targets.end()) return false;
    target = it->second;
    return true;
  }
  std::map<std::wstring, std::wstring> targets;
  std::vector<std::wstring> asked;
};

class CFakeLauncher : public IAppLauncher {
 public:
  bool LaunchThroughDesktopShell(const std::wstring& file) override {
    calls.push_back(L"shell:" + file);
    return shellWorks;
  }
  bool LaunchDirect(void* owner, const std::wstring& file) override {
    calls.push_back(L"direct:" + file);
    lastOwner = owner;
    return true;
  }
  bool shellWorks = true;
  void* lastOwner = nullptr;
  std::vector<std::wstring> calls;
};

class CFakeImageList : public ISystemImageList {
 public:
  int ImageIndexFor(const std::wstring& fileName) override {
    asked.push_back(fileName);
    return static_cast<int>(fileName.size());
  }
  std::vector<std::wstring> asked;
};
