#include "skin/skin_attributes.h"
#include "platform/text_parse.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <vector>

namespace {

std::int32_t Wrap32(std::int64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); }

// Splits like strtok: runs of separators are one, leading ones are skipped.
std::vector<std::wstring> SplitRuns(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> parts;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == separator) ++i;
    if (i >= text.size()) break;
    std::size_t end = text.find(separator, i);
    if (end == std::wstring::npos) end = text.size();
    parts.push_back(text.substr(i, end - i));
    i = end;
  }
  return parts;
}

std::wstring Trim(const std::wstring& s) { return std::wstring(TrimAsciiSpace(std::wstring_view(s))); }

struct Field {
  bool fraction = false;
  std::int32_t value = 0;  // the plain number, or the numerator
  std::int32_t denominator = 0;
};

Field ReadField(const std::wstring& text) {
  Field f;
  const std::wstring_view whole(text);
  const IntRead first = ReadInt(whole, 0, INT64_MIN, INT64_MAX);
  f.value = Wrap32(first.value);
  if (first.used < whole.size() && whole[first.used] == L'/') {
    const std::int32_t n = Wrap32(ReadInt(whole.substr(first.used + 1), 0, INT64_MIN, INT64_MAX).value);
    if (n != 0) {
      f.fraction = true;
      f.denominator = n;
    }
  }
  return f;
}

// (i × size) / n, as 32-bit signed arithmetic truncating toward zero.
std::int32_t Part(const Field& f, std::int32_t size) {
  const std::int32_t product = Wrap32(static_cast<std::int64_t>(f.value) * size);
  return Wrap32(static_cast<std::int64_t>(product) / f.denominator);
}

}  // namespace

void ParseSkinDefinition(const std::wstring& definition, std::int32_t imageIndex, std::int32_t width,
                         std::int32_t height, std::map<std::wstring, SkinCell>& cells) {
  for (std::wstring line : SplitRuns(definition, L'\n')) {
    std::size_t b = 0, e = line.size();
    while (b < e && line[b] == L'\r') ++b;
    while (e > b && line[e - 1] == L'\r') --e;
    line = line.substr(b, e - b);
    if (line.empty()) return;

    std::vector<std::wstring> fields;
    for (const std::wstring& raw : SplitRuns(line, L',')) {
      std::wstring field = Trim(raw);
      if (field.empty()) break;
      fields.push_back(std::move(field));
      if (fields.size() == 5) break;
    }
    if (fields.empty()) continue;

    SkinCell cell;
    cell.name = fields[0];
    cell.imageIndex = imageIndex;
    cell.right = width;
    cell.bottom = height;
    for (std::size_t k = 1; k < fields.size(); ++k) {
      const Field f = ReadField(fields[k]);
      switch (k) {
        case 1:
          if (f.fraction) {
            cell.left = Part(f, width);
            cell.right = Part(Field{true, Wrap32(static_cast<std::int64_t>(f.value) + 1), f.denominator}, width);
            cell.top = 0;
            cell.bottom = height;
          } else {
            cell.left = f.value;
          }
          break;
        case 2:
          if (f.fraction) {
            cell.top = Part(f, height);
            cell.bottom = Part(Field{true, Wrap32(static_cast<std::int64_t>(f.value) + 1), f.denominator}, height);
          } else {
            cell.top = f.value;
          }
          break;
        case 3:
          cell.right = Wrap32(static_cast<std::int64_t>(cell.left) + (f.fraction ? Part(f, width) : f.value));
          break;
        case 4:
          cell.bottom = Wrap32(static_cast<std::int64_t>(cell.top) + (f.fraction ? Part(f, height) : f.value));
          break;
      }
    }
    cells[cell.name] = cell;
  }
}

SkinRect ClampToImage(const SkinRect& source, std::int32_t width, std::int32_t height) {
  SkinRect r = source;
  r.left = std::clamp(r.left, 0, std::max(width, 0));
  r.right = std::clamp(r.right, r.left, std::max(width, 0));
  r.top = std::clamp(r.top, 0, std::max(height, 0));
  r.bottom = std::clamp(r.bottom, r.top, std::max(height, 0));
  return r;
}

IconTextLayout LayOutIconText(std::int32_t w, std::int32_t h, std::int32_t tw, const SkinRect& rect,
                              unsigned iconFlags, unsigned textFormat) {
  IconTextLayout out;
  out.icon = rect;
  out.text = rect;
  out.textFormat = textFormat;
  if (iconFlags & kIconLeft) {
    out.icon.left = rect.left;
    out.icon.right = rect.left + w;
    out.text.left = rect.left + w + 4;
    out.text.right = rect.right;
  } else if (iconFlags & kIconCentreHorizontally) {
    const std::int32_t x = rect.left + (rect.right - rect.left - w - tw - 4) / 2;
    out.icon.left = x;
    out.icon.right = x + w;
    out.text.left = x + w + 4;
    out.text.right = rect.right;
  }
  if (iconFlags & kIconTop) {
    out.icon.top = rect.top;
    out.icon.bottom = rect.top + h;
  } else if (iconFlags & kIconCentreVertically) {
    const std::int32_t y = rect.top + (rect.bottom - rect.top - h) / 2;
    out.icon.top = y;
    out.icon.bottom = y + h;
    out.textFormat |= kTextSingleLine | kTextVCenter;
  }
  out.text.top = rect.top;
  out.text.bottom = rect.bottom;
  return out;
}

CSkinAttributes::CSkinAttributes(std::unique_ptr<ISkinPlatform> platform) : platform_(std::move(platform)) {
  panelWindowClass_ = platform_->RegisterPanelClass();
}

CSkinAttributes::~CSkinAttributes() {
  // Several names may hold one object: release each object once.
  while (!objects_.empty()) {
    auto first = objects_.begin();
    if (SkinObject object = first->second) {
      for (auto& entry : objects_)
        if (entry.second == object) entry.second = nullptr;
      platform_->ReleaseObject(object);
    }
    objects_.erase(first);
  }
}

void CSkinAttributes::RegisterImage(int resource, const std::wstring& definition) {
  SkinImage image;
  if (!platform_->LoadImageResource(resource, image)) return;
  RegisterDecodedImage(std::move(image), definition);
}

void CSkinAttributes::RegisterDecodedImage(SkinImage image, const std::wstring& definition) {
  const std::int32_t index = nextImageIndex_++;
  const std::int32_t width = image.width, height = image.height;
  images_[index] = std::move(image);
  ParseSkinDefinition(definition, index, width, height, cells_);
}

void CSkinAttributes::SetObject(const std::wstring& name, SkinObject object) {
  auto found = objects_.find(name);
  if (found != objects_.end()) {
    SkinObject old = found->second;
    found->second = object;
    // The replaced object is ours; release it unless another name still holds it.
    if (old && old != object &&
        std::none_of(objects_.begin(), objects_.end(), [old](const auto& e) { return e.second == old; }))
      platform_->ReleaseObject(old);
    return;
  }
  objects_.emplace(name, object);
}

std::int32_t& CSkinAttributes::IntRef(SkinAttributeBlock& block, const std::wstring& name) {
  return block.ints.try_emplace(name, 0).first->second;
}

void CSkinAttributes::SetString(SkinAttributeBlock& block, const std::wstring& name, const std::wstring& value) {
  block.strings[name] = value;
}

namespace {

template <typename Map, typename Value>
const Value* FindWithSuffix(const Map& map, const std::wstring& name, const std::wstring& suffix) {
  if (!suffix.empty()) {
    auto it = map.find(name + suffix);
    if (it != map.end()) return &it->second;
  }
  auto it = map.find(name);
  return it != map.end() ? &it->second : nullptr;
}

}  // namespace

std::int32_t CSkinAttributes::GetInt(const SkinAttributeBlock& block, const std::wstring& name,
                                     const std::wstring& suffix, std::int32_t defaultValue) const {
  const std::int32_t* v = FindWithSuffix<decltype(block.ints), std::int32_t>(block.ints, name, suffix);
  return v ? *v : defaultValue;
}

std::wstring CSkinAttributes::GetString(const SkinAttributeBlock& block, const std::wstring& name,
                                        const std::wstring& suffix, const std::wstring& defaultValue) const {
  const std::wstring* v = FindWithSuffix<decltype(block.strings), std::wstring>(block.strings, name, suffix);
  return v ? *v : defaultValue;
}

SkinObject CSkinAttributes::GetObject(const std::wstring& name, const std::wstring& suffix,
                                      SkinObject defaultValue) const {
  const SkinObject* v = FindWithSuffix<decltype(objects_), SkinObject>(objects_, name, suffix);
  return v ? *v : defaultValue;
}

const SkinCell& CSkinAttributes::GetCell(const std::wstring& name, const std::wstring& suffix) const {
  auto it = cells_.find(name + suffix);
  return it != cells_.end() ? it->second : empty_;
}

const SkinCell& CSkinAttributes::GetCell3(const std::wstring& first, const std::wstring& second,
                                          const std::wstring& third) const {
  auto it = cells_.find(first + second + third);
  if (it != cells_.end()) return it->second;
  it = cells_.find(first + second);
  return it != cells_.end() ? it->second : empty_;
}

namespace {

// Own name+suffix, then the global prefix+name+suffix, then own name, then
// the global prefix+name: a state's own value beats a stateless one, so a
// link with its own colour still turns orange under the mouse.
template <typename Map, typename Value>
const Value* Resolve(const Map& own, const Map& global, const std::wstring& prefix, const std::wstring& name,
                     const std::wstring& suffix) {
  if (!suffix.empty()) {
    if (auto it = own.find(name + suffix); it != own.end()) return &it->second;
    if (auto it = global.find(prefix + name + suffix); it != global.end()) return &it->second;
  }
  if (auto it = own.find(name); it != own.end()) return &it->second;
  if (auto it = global.find(prefix + name); it != global.end()) return &it->second;
  return nullptr;
}

}  // namespace

std::int32_t CSkinAttributes::ResolveInt(const SkinAttributeBlock& own, const std::wstring& prefix,
                                         const std::wstring& name, const std::wstring& suffix,
                                         std::int32_t defaultValue) const {
  const std::int32_t* v = Resolve<decltype(own.ints), std::int32_t>(own.ints, global_.ints, prefix, name, suffix);
  return v ? *v : defaultValue;
}

std::wstring CSkinAttributes::ResolveString(const SkinAttributeBlock& own, const std::wstring& prefix,
                                            const std::wstring& name, const std::wstring& suffix,
                                            const std::wstring& defaultValue) const {
  const std::wstring* v =
      Resolve<decltype(own.strings), std::wstring>(own.strings, global_.strings, prefix, name, suffix);
  return v ? *v : defaultValue;
}

bool CSkinAttributes::DrawCell(SkinSurface surface, const SkinCell& cell, unsigned flags, std::int32_t left,
                               std::int32_t top, std::int32_t right, std::int32_t bottom) const {
  if (!cell.Drawable() || right - left < 0 || bottom - top < 0) return false;
  if ((flags & kCellNaturalWidth) && left == right) right = left + cell.Width();
  if ((flags & kCellNaturalHeight) && top == bottom) bottom = top + cell.Height();
  if (flags & kCellCentreHorizontally) {
    const std::int32_t m = (left + right) / 2, h = cell.Width() / 2;
    left = m - h;
    right = m + h;
  }
  if (flags & kCellCentreVertically) {
    const std::int32_t m = (top + bottom) / 2, h = cell.Height() / 2;
    top = m - h;
    bottom = m + h;
  }
  auto image = images_.find(cell.imageIndex);
  if (image == images_.end()) return false;
  const SkinRect source = ClampToImage(cell.Rect(), image->second.width, image->second.height);
  if (source.Width() <= 0 || source.Height() <= 0) return false;
  // What the cell claims beyond the image is nothing: the destination loses
  // the same share, so the image's own edge pixels land where they belong
  // (the window region then cuts the empty column).
  SkinRect d{left, top, right, bottom};
  auto part = [](std::int32_t length, std::int32_t offset, std::int32_t whole) {
    return static_cast<std::int32_t>(static_cast<std::int64_t>(length) * offset / whole);
  };
  if (cell.Width() > 0 && source.Width() != cell.Width()) {
    d.left = left + part(right - left, source.left - cell.left, cell.Width());
    d.right = left + part(right - left, source.right - cell.left, cell.Width());
  }
  if (cell.Height() > 0 && source.Height() != cell.Height()) {
    d.top = top + part(bottom - top, source.top - cell.top, cell.Height());
    d.bottom = top + part(bottom - top, source.bottom - cell.top, cell.Height());
  }
  return platform_->DrawImage(surface, image->second, source, d);
}

bool CSkinAttributes::DrawCellByName(SkinSurface surface, const std::wstring& name, const std::wstring& suffix,
                                     unsigned flags, std::int32_t left, std::int32_t top, std::int32_t right,
                                     std::int32_t bottom) const {
  return DrawCell(surface, GetCell(name, suffix), flags, left, top, right, bottom);
}

void CSkinAttributes::DrawIconText(const SkinCell& cell, SkinSurface surface, const std::wstring& text,
                                   const SkinRect& rect, unsigned iconFlags, unsigned textFormat) const {
  const std::int32_t tw = platform_->TextWidth(surface, text);
  const IconTextLayout layout = LayOutIconText(cell.Width(), cell.Height(), tw, rect, iconFlags, textFormat);
  platform_->DrawText(surface, text, layout.text, layout.textFormat);
  DrawCell(surface, cell, kCellNaturalSize, layout.icon.left, layout.icon.top, layout.icon.right,
           layout.icon.bottom);
}

CSkinAttributes& GetSkinAttributes() {
  static CSkinAttributes instance(CreateSkinPlatform());
  return instance;
}
