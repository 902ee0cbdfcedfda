#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kestrova {

// The text of a point field (name, mark, remarks) in 16 bytes. A site holds millions of
// points whose texts are mostly a few bytes ("P1024", "KBM3", empty), and four heap
// strings of 32 bytes each were most of a loaded table. Up to 15 bytes live inside the
// object, longer text on the heap. Bytes are code page 932 as everywhere in the core;
// the type knows nothing about characters.
//
// The last byte tells the kind: 15 - size for inline text, so a 15-byte text ends in a
// NUL of its own and c_str() never needs a copy; kHeapTag for heap text.
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
    return kInline - static_cast<unsigned char>(bytes_[kInline]);
  }
  size_t length() const noexcept { return size(); }
  bool empty() const noexcept { return size() == 0; }
  const char* data() const noexcept { return OnHeap() ? HeapPointer() : bytes_; }
  const char* c_str() const noexcept { return data(); }
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
  static constexpr size_t kInline = 15;
  static constexpr unsigned char kHeapTag = 0xFF;

  bool OnHeap() const noexcept { return static_cast<unsigned char>(bytes_[kInline]) == kHeapTag; }
  const char* HeapPointer() const noexcept {
    const char* p;
    std::memcpy(&p, bytes_, sizeof p);
    return p;
  }
  size_t HeapSize() const noexcept {
    uint32_t n;
    std::memcpy(&n, bytes_ + sizeof(char*), sizeof n);
    return n;
  }
  void SetInline(size_t n) noexcept {
    bytes_[n] = '\0';
    bytes_[kInline] = static_cast<char>(kInline - n);
  }
  void Release() noexcept {
    if (OnHeap()) delete[] HeapPointer();
  }
  void Assign(std::string_view text);

  // Pointer and 32-bit size for heap text, the text itself otherwise; byte access only,
  // so the object packs into its neighbours' padding like a char array.
  char bytes_[16];
};

static_assert(sizeof(PointText) == 16);

// The texts of the fields hold at most 255 bytes; nothing reaches 4 GB.
inline void PointText::Assign(std::string_view text) {
  const size_t n = text.size();
  if (n <= kInline) {
    if (n) std::memcpy(bytes_, text.data(), n);
    SetInline(n);
    return;
  }
  if (n > UINT32_MAX) throw std::length_error("point text too long");
  char* p = new char[n + 1];
  std::memcpy(p, text.data(), n);
  p[n] = '\0';
  const auto size = static_cast<uint32_t>(n);
  std::memcpy(bytes_, &p, sizeof p);
  std::memcpy(bytes_ + sizeof(char*), &size, sizeof size);
  bytes_[kInline] = static_cast<char>(kHeapTag);
}

inline PointText& PointText::operator=(std::string_view text) {
  if (OnHeap() && text.data() >= HeapPointer() && text.data() < HeapPointer() + HeapSize()) {
    // Part of our own heap text: copy before the old storage goes.
    PointText copy(text);
    return *this = std::move(copy);
  }
  if (!OnHeap() && text.size() <= kInline && text.data() >= bytes_ &&
      text.data() < bytes_ + sizeof bytes_) {
    std::memmove(bytes_, text.data(), text.size());
    SetInline(text.size());
    return *this;
  }
  Release();
  Assign(text);
  return *this;
}

}  // namespace kestrova
