// A skin platform that decodes nothing and records what would be drawn.
#pragma once
#include <map>
#include <ostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "skin/skin_platform.h"

inline void PrintTo(const SkinRect& r, std::ostream* os) {
  *os << '(' << r.left << ',' << r.top << ")-(" << r.right << ',' << r.bottom << ')';
}

class CFakeSkinPlatform : public ISkinPlatform {
 public:
  struct Draw {
    SkinRect source, destination;
    std::int32_t imageWidth;
  };
  struct Text {
    std::wstring text;
    SkinRect area;
    unsigned format;
  };
  struct Shared {
    std::map<int, std::pair<std::int32_t, std::int32_t>> resources;  // number → size; {-1,-1} = undecodable
    std::vector<Draw> draws;
    std::vector<Text> texts;
    std::map<SkinObject, int> releases;
    std::vector<SkinObject> created;
    std::int32_t charWidth = 6;
  };

  explicit CFakeSkinPlatform(std::shared_ptr<Shared> shared) : s(std::move(shared)) {}

  bool LoadImageResource(int resource, SkinImage& image) override {
    auto it = s->resources.find(resource);
    if (it == s->resources.end()) return false;
    if (it->second.first >= 0) {
      image.width = it->second.first;
      image.height = it->second.second;
    }
    return true;
  }
  bool DrawImage(SkinSurface, const SkinImage& image, const SkinRect& source, const SkinRect& destination) override {
    s->draws.push_back({source, destination, image.width});
    return true;
  }
  std::int32_t TextWidth(SkinSurface, const std::wstring& text) override {
    return static_cast<std::int32_t>(text.size()) * s->charWidth;
  }
  void DrawText(SkinSurface, const std::wstring& text, const SkinRect& area, unsigned format) override {
    s->texts.push_back({text, area, format});
  }
  SkinObject CreateFont(std::int32_t, std::int32_t, bool, const std::wstring&) override { return Make(); }
  SkinObject CreateSolidBrush(std::uint32_t) override { return Make(); }
  SkinObject CreatePen(std::uint32_t) override { return Make(); }
  SkinObject CreateNullBrush() override { return Make(); }
  void ReleaseObject(SkinObject object) override { ++s->releases[object]; }
  std::int32_t HandCursor() override { return 0x10013; }
  std::wstring RegisterPanelClass() override { return L"FakePanel"; }

  SkinObject Make() {
    tokens_.push_back(std::make_unique<char>());
    s->created.push_back(tokens_.back().get());
    return tokens_.back().get();
  }

  std::shared_ptr<Shared> s;

 private:
  std::vector<std::unique_ptr<char>> tokens_;
};
