// A strict JSON syntax check for the window system's screen: what a
// browser's JSON.parse would accept.
#pragma once

#include <cctype>
#include <string>

class JsonChecker {
 public:
  explicit JsonChecker(const std::string& text) : text_(text) {}
  bool Valid() {
    Space();
    if (!Value()) return false;
    Space();
    return pos_ == text_.size();
  }

 private:
  void Space() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\n' || text_[pos_] == '\t' || text_[pos_] == '\r'))
      ++pos_;
  }
  bool Literal(const char* word) {
    std::string w = word;
    if (text_.compare(pos_, w.size(), w) != 0) return false;
    pos_ += w.size();
    return true;
  }
  bool String() {
    if (text_[pos_] != '"') return false;
    for (++pos_; pos_ < text_.size(); ++pos_) {
      unsigned char c = static_cast<unsigned char>(text_[pos_]);
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c < 0x20) return false;
      if (c == '\\') {
        if (++pos_ >= text_.size()) return false;
        char e = text_[pos_];
        if (e == 'u') {
          for (int i = 0; i < 4; ++i)
            if (++pos_ >= text_.size() || !std::isxdigit(static_cast<unsigned char>(text_[pos_]))) return false;
        } else if (std::string("\"\\/bfnrt").find(e) == std::string::npos) {
          return false;
        }
      }
    }
    return false;
  }
  bool Number() {
    size_t start = pos_;
    if (text_[pos_] == '-') ++pos_;
    while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    return pos_ > start && std::isdigit(static_cast<unsigned char>(text_[pos_ - 1]));
  }
  template <typename Item>
  bool Sequence(char close, Item item) {
    ++pos_;
    Space();
    if (text_[pos_] == close) {
      ++pos_;
      return true;
    }
    for (;;) {
      Space();
      if (!item()) return false;
      Space();
      if (text_[pos_] == close) {
        ++pos_;
        return true;
      }
      if (text_[pos_++] != ',') return false;
    }
  }
  bool Value() {
    if (pos_ >= text_.size()) return false;
    char c = text_[pos_];
    if (c == '{')
      return Sequence('}', [this] {
        if (!String()) return false;
        Space();
        if (text_[pos_++] != ':') return false;
        Space();
        return Value();
      });
    if (c == '[') return Sequence(']', [this] { return Value(); });
    if (c == '"') return String();
    if (c == 't') return Literal("true");
    if (c == 'f') return Literal("false");
    if (c == 'n') return Literal("null");
    return Number();
  }
  const std::string& text_;
  size_t pos_ = 0;
};
