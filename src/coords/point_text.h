#pragma once

#include <bit>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kestrova {

// The text of a point field (name, mark, remarks) in 8 bytes. A site holds millions of
// points whose texts are mostly a few bytes ("P1024", "KBM3", "105", empty): up to 7 bytes
// live inside the object, longer text in a heap block of its own. Bytes are code page
// 932 as everywhere in the core; the type knows nothing about characters. The text is
// not NUL-terminated: read it through data() and size(), view() or str().
//
// The 8 bytes are either a heap pointer or, when the lowest bit of the first byte is set,
// (size << 1) | 1 followed by the text. On little-endian machines the first byte is the
// pointer's lowest, and a block from operator new is never at an odd address.
class PointText {
 public:
  using const_iterator = const char*;
  using iterator = const char*;
  using value_type = char;
  using size_type = size_t;

  PointText() noexcept { SetInline(0); }
  PointText(std::string_view text) { Assign(text); }  // NOLINT: implicit like std::string
  PointText(const std::string& text) : PointText(std::string_view(text)) {}  // NOLINT
  PointText(const char* text) : PointText(std::string_view(text)) {}         // NOLINT
  PointText(const PointText& other) { Assign(other.view()); }
  PointText(PointText&& other) noexcept {
    std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    other.SetInline(0);
  }
  ~PointText() { Release(); }

  PointText& operator=(const PointText& other) {
    if (this != &other) *this = other.view();
    return *this;
  }
  PointText& operator=(PointText&& other) noexcept {
    if (this != &other) {
      Release();
      std::memcpy(bytes_, other.bytes_, sizeof bytes_);
      other.SetInline(0);
    }
    return *this;
  }
  PointText& operator=(std::string_view text);
  PointText& operator=(const std::string& text) { return *this = std::string_view(text); }
  PointText& operator=(const char* text) { return *this = std::string_view(text); }

  size_t size() const noexcept {
    if (OnHeap()) return HeapSize();
    return static_cast<unsigned char>(bytes_[0]) >> 1;
  }
  size_t length() const noexcept { return size(); }
  bool empty() const noexcept { return size() == 0; }
  const char* data() const noexcept { return OnHeap() ? HeapBlock() + kSizeBytes : bytes_ + 1; }
  const char* begin() const noexcept { return data(); }
  const char* end() const noexcept { return data() + size(); }
  char operator[](size_t i) const noexcept { return data()[i]; }
  char front() const noexcept { return data()[0]; }
  char back() const noexcept { return data()[size() - 1]; }

  std::string_view view() const noexcept { return std::string_view(data(), size()); }
  operator std::string_view() const noexcept { return view(); }  // NOLINT
  std::string str() const { return std::string(data(), size()); }

  void clear() noexcept {
    Release();
    SetInline(0);
  }

  friend bool operator==(const PointText& a, const PointText& b) noexcept {
    return a.view() == b.view();
  }
  friend bool operator==(const PointText& a, std::string_view b) noexcept { return a.view() == b; }
  friend bool operator==(const PointText& a, const std::string& b) noexcept {
    return a.view() == std::string_view(b);
  }
  friend bool operator==(const PointText& a, const char* b) noexcept {
    return a.view() == std::string_view(b);
  }
  friend std::strong_ordering operator<=>(const PointText& a, const PointText& b) noexcept {
    return a.view() <=> b.view();
  }
  friend std::strong_ordering operator<=>(const PointText& a, std::string_view b) noexcept {
    return a.view() <=> b;
  }

  friend std::string operator+(const std::string& a, const PointText& b) {
    std::string out = a;
    out.append(b.data(), b.size());
    return out;
  }
  friend std::string operator+(std::string&& a, const PointText& b) {
    a.append(b.data(), b.size());
    return std::move(a);
  }
  friend std::string operator+(const char* a, const PointText& b) { return std::string(a) + b; }
  friend std::string operator+(const PointText& a, const std::string& b) { return a.str() + b; }
  friend std::string operator+(const PointText& a, const char* b) { return a.str() + b; }
  friend std::string& operator+=(std::string& a, const PointText& b) {
    return a.append(b.data(), b.size());
  }
  friend std::ostream& operator<<(std::ostream& out, const PointText& text) {
    return out << text.view();
  }

 private:
  static constexpr size_t kInline = 7;
  static constexpr size_t kSizeBytes = sizeof(uint32_t);  // a heap block starts with the size

  bool OnHeap() const noexcept { return (static_cast<unsigned char>(bytes_[0]) & 1u) == 0; }
  const char* HeapBlock() const noexcept {
    const char* p;
    std::memcpy(&p, bytes_, sizeof p);
    return p;
  }
  size_t HeapSize() const noexcept {
    uint32_t n;
    std::memcpy(&n, HeapBlock(), sizeof n);
    return n;
  }
  void SetInline(size_t n) noexcept { bytes_[0] = static_cast<char>((n << 1) | 1u); }
  void Release() noexcept {
    if (OnHeap()) delete[] HeapBlock();
  }
  void Assign(std::string_view text);

  // Byte access only, so the object packs into its neighbours' padding like a char array.
  char bytes_[8];
};

static_assert(sizeof(PointText) == 8);
static_assert(std::endian::native == std::endian::little,
              "PointText tells inline text from a pointer by the pointer's lowest byte");
static_assert(__STDCPP_DEFAULT_NEW_ALIGNMENT__ >= 2);

// The texts of the fields hold at most 255 bytes; nothing reaches 4 GB.
inline void PointText::Assign(std::string_view text) {
  const size_t n = text.size();
  if (n <= kInline) {
    if (n) std::memcpy(bytes_ + 1, text.data(), n);
    SetInline(n);
    return;
  }
  if (n > UINT32_MAX - kSizeBytes) throw std::length_error("point text too long");
  char* block = new char[kSizeBytes + n];
  const auto size = static_cast<uint32_t>(n);
  std::memcpy(block, &size, sizeof size);
  std::memcpy(block + kSizeBytes, text.data(), n);
  std::memcpy(bytes_, &block, sizeof block);
}

inline PointText& PointText::operator=(std::string_view text) {
  // Part of this text's own bytes: copy before the old storage goes. A heap block is
  // made before the old one goes too, so a failed allocation leaves the old text (and
  // no freed pointer for the destructor to free again).
  const char* const own = data();
  if (text.size() > kInline || (text.data() >= own && text.data() < own + size())) {
    PointText copy(text);
    return *this = std::move(copy);
  }
  Release();
  Assign(text);
  return *this;
}

}  // namespace kestrova
